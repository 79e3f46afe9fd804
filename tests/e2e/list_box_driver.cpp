// A small program for the real-terminal list-box check: prepares the console window, shows
// one list box and writes its result, so a script in a terminal emulator can drive it.
//   list_box_driver MODE [after]   MODE 0 single choice, 3 multiple choice;
//                                  after: "wait" (default) or "throw"
// Items are the age list. With KESTRANE_DRIVER_PID_FILE set, the process id is written there.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "ui/terminal_console.h"
#include "platform/terminal_session.h"
#include "ui/console.h"

namespace {

// The box on the terminal, then its result and a key wait.
int show_box(int mode, const std::string& after) {
  using namespace kestrane;
  const std::vector<std::string> ages{"Infant  ", "1 y-old ", "5 y-old ", "10 y-old",
                                      "15 y-old", "Adult   ", "ALL AGES"};
  TerminalConsole console;
  prepare_console_window(console, "Kestrane  Ver. 3.1");
  write_centred(console, "List box check");
  console.line_break();
  const ListBoxResult result = console.list_box(
      {.heading = " Select Age(s) of Interest",
       .instruction = "Pick some ages",
       .items = ages,
       .mode = mode == 3 ? ListBoxMode::multiple_choice : ListBoxMode::single_choice});
  if (after == "throw") throw std::runtime_error("thrown on purpose after the list box");
  // A single choice shows the item's text, several choices their numbers in marking order.
  std::string shown;
  if (mode == 3) {
    for (int item : result.items) {
      if (!shown.empty()) shown += ',';
      shown += std::to_string(item);
    }
  } else if (result.chosen()) {
    shown = ages[static_cast<std::size_t>(result.items.front() - 1)];
  }
  // Appended piece by piece: GCC 12 warns falsely of -Wrestrict on a literal + std::string.
  if (result.chosen()) {
    std::string line = "Result: [";
    line += shown;
    line += ']';
    console.write_text(line);
  } else {
    console.write_text("Result is empty.");
  }
  console.line_break();
  console.write_text(" Press any key to exit.");
  console.wait_for_key();
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (const std::string problem = kestrane::terminal_problem(); !problem.empty()) {
    std::fprintf(stderr, "list_box_driver: %s\n", problem.c_str());
    return 2;
  }
  if (const char* pid_file = std::getenv("KESTRANE_DRIVER_PID_FILE")) {
    std::ofstream(pid_file) << getpid() << '\n';
  }
  try {
    return show_box(argc > 1 ? std::atoi(argv[1]) : 0, argc > 2 ? argv[2] : "wait");
  } catch (const kestrane::QuitAtSmallTerminal&) {
    return 1;  // any other exception goes on to std::terminate, on purpose
  }
}
