// Taking the terminal for the full-screen display and giving it back: the check that the
// terminal can be used, the start and end of curses, and the handlers that put the terminal
// back on a signal, on std::terminate and at exit.
#pragma once

#include <string>

namespace kestrane {

// Empty when standard input and output are terminals of a known type that can place the
// cursor; otherwise a message that says what is wrong and what to do (for scripted runs,
// kestrane-batch), without the program's name.
std::string terminal_problem();

// Saves the terminal's modes, installs the restoring handlers and starts curses on standard
// input and output. Throws std::runtime_error when curses cannot start (nothing is left
// installed then). Only one session may be open at a time.
void start_terminal_session();

// Ends curses the ordinary way and removes the handlers; nothing when no session is open.
void end_terminal_session();

// True while the full-screen display is on the terminal.
bool terminal_session_open();

// Prepares anew the bytes a handler writes to put the terminal back (the bottom line moves
// when the terminal is resized).
void prepare_terminal_reset();

// Asks the terminal to take `rows` x `cols` with the window operation CSI 8 ; rows ;
// cols t, which xterm, VTE-based and many other terminals follow (tmux and screen do not),
// and waits up to `wait_ms` milliseconds for the resize. When the terminal follows, the
// size it had before is asked back when the session ends, ordinarily or by a signal. Keys
// typed meanwhile are kept. True when the terminal now has at least the size asked for.
bool request_terminal_size(int rows, int cols, int wait_ms);

// A terminfo string capability of the terminal in use, or null where it has none.
const char* terminal_capability(const char* name);

}  // namespace kestrane
