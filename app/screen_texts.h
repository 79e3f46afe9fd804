// The fixed texts of the interactive program's screens, in the order a run shows them: the
// window title, the title screen, the list boxes with their echo lines, the stops and the
// processing and completion screens. Every text stands exactly as the user sees it, leading
// and trailing blanks included.
#pragma once

#include <array>
#include <string_view>

namespace kestrane {

inline constexpr std::string_view kWindowTitle = "Kestrane  Ver. 3.1";

// Title screen. The title and credit lines open the processing screen too.
inline constexpr std::string_view kTitleLine = "Kestrane Code (March 17, 2006)";
inline constexpr std::string_view kCreditLine = "Written by the Kestrane developers";
// From column 1, after an empty row.
inline constexpr std::array<std::string_view, 3> kIntroductionLines{
    "Kestrane computes absorbed dose coefficients for user specified times.",
    "The upper limits for the integrals are read from \\DATA\\Kestrane.INI.",
    "The absorbed dose rate files were archived on the KVR-13 CD."};
// From column 5, after an empty row.
inline constexpr std::array<std::string_view, 5> kInstructionLines{
    "The user selects (1) either the ingestion or inhalation data set,",
    "(2) the age(s) of interest and (3) the organ(s) to be processed.",
    "To select multiple ages or organs mark the desired items by holding",
    "down <Ctrl> and clicking the left mouse button. Click OK to process", "the selections."};
inline constexpr std::string_view kContinuePrompt = " Press any key to continue.";

// Data-set list box, and its stop when closed without a choice.
inline constexpr std::string_view kDataSetHeading = " Select Data Set to Process";
inline constexpr std::string_view kDataSetInstruction = "Click on data set";
inline constexpr std::string_view kNoDataSetMessage =
    " No absorbed dose rate file was selected, calculations are aborted.";
inline constexpr std::string_view kAbortPrompt = " Press any key to abort.";

// A missing input file: the first text, the file's path and "."; for the integration-times
// file a second line says what it holds.
inline constexpr std::string_view kUnableToLocate = " Unable to locate the file ";
inline constexpr std::string_view kIntegrationTimesNote =
    " This file contains the integration times.";
inline constexpr std::string_view kExitPrompt = " Press any key to exit.";

// Age list box: its heading, instruction, the item standing for every age group, and the
// echo of the choice (followed by the count and the chosen items).
inline constexpr std::string_view kAgeBoxHeading = " Select Age(s) of Interest";
inline constexpr std::string_view kAgeBoxInstruction = "Multiple Select: Ctrl + Right Click";
inline constexpr std::string_view kAllAgesItemText = "ALL AGES";
inline constexpr std::string_view kAgesEcho = "Ages to be process ";

// Region list box: after the file's region names come the composite region and the item
// standing for every region; the echo as for the ages, or the empty result line when the
// box is closed without a choice.
inline constexpr std::string_view kRegionBoxHeading = " Select Target Regions";
inline constexpr std::string_view kRegionBoxInstruction = "Multiple Select: Ctrl + Left Click";
inline constexpr std::string_view kLungItemText = "Lung";
inline constexpr std::string_view kAllOrgansItemText = "ALL ORGANS";
inline constexpr std::string_view kRegionsEcho = "Organs to be process ";
inline constexpr std::string_view kNoRegionsEcho = "Result$ = ";

// After the selection: the stop when either list is empty, or the prompt that starts the
// processing.
inline constexpr std::string_view kNothingSelectedMessage =
    " Either no age or no organs have been selected for processing.";
inline constexpr std::string_view kNothingSelectedPrompt =
    " Press any key to exit the Kestrane program.";
inline constexpr std::string_view kReadyPrompt = " Press any key to process the data.";

// Processing screen (followed by the data-set path and "."), the heading of the list of
// files a stop leaves incomplete, and the completion screen.
inline constexpr std::string_view kProcessingText = " Processing absorbed dose rate file ";
inline constexpr std::string_view kPartialFilesText =
    "The earlier files are kept; the rows written are left in:";
// What a signal handler writes when the run is ended by Ctrl-C or SIGTERM, with the partial
// files after it.
inline constexpr std::string_view kInterruptedNote =
    "The run was interrupted. The earlier files are kept; the rows written are left in:";
// The same once the files of the run are in place, with those files after it.
inline constexpr std::string_view kInterruptedAfterCommitNote =
    "The run was interrupted after it completed. Its files are in place:";
inline constexpr std::string_view kCompleteText =
    " Processing of absorbed dose rate file is complete.";
// The line kept for the normal terminal after a completed run, before the provenance files.
inline constexpr std::string_view kProvenanceFilesText = "Provenance files:";

}  // namespace kestrane
