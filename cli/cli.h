// qrv-writer-cli: the main window's session without windows, for production
// lines and scripts. Results go to `out`, messages, progress and the report
// trace to `err`.
#pragma once

#include <chrono>
#include <cstdio>
#include <deque>
#include <functional>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "link/hid_seam.h"
#include "session/session.h"
#include "sim/options.h"
#include "sim/programmer.h"

namespace CLI {
class App;
}

namespace qrv::cli {

// Exit codes of the tool.
inline constexpr int kExitOk = 0;
inline constexpr int kExitFailure = 1;       // the programmer reported a failure
inline constexpr int kExitUsage = 2;         // bad usage or bad input
inline constexpr int kExitNoProgrammer = 3;  // no programmer, or no answer in time
inline constexpr int kExitOutput = 4;  // a result could not be stored: the log or stdout failed
inline constexpr int kExitInterrupted = 130;  // ended by Ctrl-C (SIGINT) or SIGTERM

inline constexpr std::chrono::milliseconds kDefaultTimeout{30000};

class Context;

// Handles one session event during a wait: an exit code ends the wait.
using EventHandler = std::function<std::optional<int>(const SessionEvent&)>;

// A refused value, thrown while the command line is parsed (also by a Bind):
// the tool exits 2 with its text as the whole message, before anything runs.
struct UsageError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// What one occurrence of a command does.
using Run = std::function<int(Context&)>;
// Turns the values given with one occurrence of a command into its run.
using Bind = std::function<Run(const std::string& argument)>;

// One occurrence of a command on the command line, ready to run.
struct Invocation {
    std::string name;
    std::string argument;  // its positional argument (empty when it takes none)
    bool needsProgrammer = false;
    Run run;
    // What is checked before the programmer is connected (the file of a
    // download): kExitOk, or the exit code after a message. May be empty.
    Run check;
};

struct Options {
    bool simulate = false;
    sim::SimOptions simOptions;
    // --simulate=count=N,...: a station of N simulated programmers (count 0:
    // the lone programmer of simOptions).
    sim::StationOptions station;
    bool trace = false;
    std::chrono::milliseconds timeout = kDefaultTimeout;
    std::optional<std::string> device;
    // --option-word: sent with CMD_SET_OPTION after a plain image was stored,
    // in place of the user option chooser.
    std::optional<uint32_t> optionWord;
    // The steps of the automatic run (StepFlags bits), chosen with --steps.
    std::optional<uint8_t> steps;
    // --json: each result as one JSON object per line on out.
    bool json = false;
    // --ignore-checksums: download files whose only fault is their checksums.
    bool ignoreChecksums = false;
    // --force: read-back files replace read-only files.
    bool force = false;
    // --log FILE: the production log.
    std::optional<std::string> log;
    // --firmware: the programmer firmware file of `update-firmware`.
    std::optional<std::string> firmware;
    // --all, --slots LIST: the station's slots the commands run on; --station
    // FILE: the binding of its slots to ports or serials.
    bool allSlots = false;
    std::optional<std::string> slotList;
    std::optional<std::string> stationFile;
    // The commands in the order given, each with the values given with it.
    std::vector<Invocation> commands;
};

// One command of the tool. Commands that need no programmer (the file tools,
// `list`) run without connecting; the others share one connection, made before
// the first of them runs.
struct Command {
    const char* name;
    const char* argument;  // the name of its argument in the help, or nullptr
    bool needsProgrammer;
    const char* help;
    std::function<int(Context&, const std::string& argument)> run;
    // A command with options of its own adds them to its sub-command here and
    // returns what turns the values of one occurrence into that occurrence's
    // run. It must leave the values at their defaults for the next occurrence
    // of the same command. Commands without options leave it empty.
    std::function<Bind(CLI::App& command)> options = {};
    // What is checked of the argument before the programmer is connected, so
    // that bad input says so with or without a programmer. May be empty.
    std::function<int(Context&, const std::string& argument)> check = {};
};

// A checksum or address in --json: four upper-case hex digits ("F110").
nlohmann::ordered_json HexWordJson(unsigned value);

// `list [--status]` (list.cpp): the programmers attached.
int List(Context& c, const std::string&);
std::function<Bind(CLI::App&)> ListOptions();

// `download FILE` (download.cpp), and the whole-file check of FILE made
// before connecting.
int Download(Context& c, const std::string& file);
int CheckDownloadFile(Context& c, const std::string& file);

// The service commands (service.cpp): `user-option`, and the option hooks of
// `read-chip FILE` and `read-cache FILE` (--raw), `mode NAME`,
// `eeprom-read ADDR TYPE`, `eeprom-write ADDR TYPE` and `update-firmware [FILE]`.
int UserOption(Context& c, const std::string&);
enum class ReadBack { Chip, Cache };
std::function<Bind(CLI::App&)> ReadBackOptions(ReadBack source);
std::function<Bind(CLI::App&)> ModeOptions();
std::function<Bind(CLI::App&)> EepromOptions(bool write);
std::function<Bind(CLI::App&)> UpdateFirmwareOptions();

// The commands, in the order the help lists them.
const std::vector<Command>& Commands();
const Command* FindCommand(const std::string& name);

// Parses the whole command line (without the program name) before anything
// runs. Returns nullopt after writing the help to out (*exitCode 0) or the
// reason to err (*exitCode kExitUsage).
std::optional<Options> ParseArguments(const std::vector<std::string>& args, FILE* out, FILE* err,
                                      int* exitCode = nullptr);

// What a command works with: the output streams, the HID seam and, once
// connected, the session.
class Context {
  public:
    Context(const Options& options, HidSeam& seam, FILE* out, FILE* err);
    ~Context();

    FILE* out;
    FILE* err;
    const Options& options;
    // The command being run (its name), for --json.
    std::string command;
    // In a station: {"slot": K, "port": …, "serial": …}, added to every
    // object of --json. Null for a lone programmer.
    nlohmann::ordered_json slot;

    // A result: the text as it stands, or with --json the fields as one
    // object, after {"command": NAME, "programmer": PATH}.
    void Emit(const nlohmann::ordered_json& fields, const std::string& text);
    // A message on err ("qrv-writer-cli: " + text, on one line); with --json it
    // also becomes the message of the command's error object.
    void Error(const std::string& text);
    // A note on err, on one line with the same prefix, that is no error.
    void Note(const std::string& text);
    // The message boxes of the models the commands drive: each becomes an
    // Error line.
    Interaction& Messages() { return *messages_; }
    // What failed when no message said it ("verify: failed"), for the error
    // object of --json.
    void NoteFailure(const std::string& what) { failure_ = what; }
    // Why the command failed, for --json: its last message, else what failed.
    std::string FailureText() const { return lastMessage_.empty() ? failure_ : lastMessage_; }
    // Forgets the messages of the previous command.
    void BeginCommand(const std::string& name);
    // The connected programmer's device path, or null.
    nlohmann::ordered_json Programmer() const;
    // The firmware version of the last status reply ("3.6"), or null when the
    // programmer does not report one.
    const nlohmann::ordered_json& Firmware() const { return firmware_; }
    HidSeam& Seam() { return seam_; }

    // Connects the programmer and waits for its status. kExitOk, or
    // kExitNoProgrammer after a message.
    int Connect();
    bool IsConnected() const { return connected_; }
    MainSession& Session() { return *session_; }

    // Hands the session's events to onEvent, first those the command's own
    // call caused, then those of each reply as it is dispatched, until onEvent
    // gives an exit code. No reply within the time-out ends the wait with
    // kExitNoProgrammer. After a chip refusal (no chip, wrong model) the
    // command has failed: the wait takes the replies that still belong to it
    // while they come, then ends with kExitFailure.
    int Await(const EventHandler& onEvent);
    // The same, but once a reply has come, `quiet` without another ends the
    // wait with onQuiet() (a read-back whose blocks stopped).
    int Await(const EventHandler& onEvent, std::chrono::milliseconds quiet,
              const std::function<int()>& onQuiet);
    // The last status the session read.
    const event::Status& LastStatus() const { return lastStatus_; }

    // Reads the programmer's status again (CMD_STATUS) and waits for it.
    int RefreshStatus();
    // Waits for the status reply that the session asked for itself (after a
    // download or a firmware replacement).
    int AwaitStatus();

    // How a run or step that the session refused to start ends the command:
    // kExitOk when it started, else the exit code after a message.
    int Started(RunStart start);

    // Before a step or the automatic run: the steps that command would send if
    // it ran alone. After a command that changed what the programmer stores (a
    // download unticks the step boxes, as in the window), the status is read
    // again first; then the boxes are ticked as the operator would: the --steps
    // choice, or else erase and verify beside the steps the status selected. A
    // production file's steps are the programmer's: its boxes stay as they are.
    int PrepareSteps();

    // Whether the status in the session is the one the connection just read.
    bool statusFresh = false;
    // Whether the stored image changed since the status was last read.
    bool statusStale = false;

    // Waits up to the settle time for option and protection results that may
    // still follow a run's result, handing the events of each to onEvent until
    // it says the wait is over. Another reply ends the wait and is kept for
    // the next Await.
    void Linger(const std::function<bool(const SessionEvent&)>& onEvent);

    // A progress line on err, drawn only when err is a terminal and no trace is
    // written.
    void ShowProgress(const char* what, int percent);
    void ClearProgress();

    // Ends the command after Ctrl-C or SIGTERM: the run in progress is logged
    // without a result ("interrupted"); kExitInterrupted.
    int EndInterrupted();

  private:
    int ChooseSteps();
    // A wait that no reply ended: the programmer was unplugged, or silent for
    // the time-out (then onQuiet, when given, ends the wait).
    int EndSilentWait(const std::function<int()>& onQuiet);
    // Hands the queued events to onEvent until it gives an exit code; notes a
    // chip refusal on the way.
    std::optional<int> DrainEvents(const EventHandler& onEvent, bool* chipProblem);
    // The reply kept by Linger, else the next one within the time-out.
    bool NextReply(std::chrono::milliseconds timeout, const ReplyChannel::Handler& handle);
    // Which programmer Connect connects: the one --device names, else the one
    // attached; several attached without --device is refused with their list.
    // kExitOk with chosen_ set, or the exit code after a message.
    int ChooseProgrammer();

    HidSeam& seam_;
    std::unique_ptr<HidSeam> chosen_;  // seam_ narrowed to the chosen programmer
    std::unique_ptr<Interaction> interaction_;
    std::unique_ptr<Interaction> messages_;
    std::unique_ptr<Clock> clock_;
    std::unique_ptr<MainSession> session_;
    bool connected_ = false;
    bool progressShown_ = false;
    std::string progressWhat_;
    int progressPercent_ = -1;
    bool progressAllowed_ = false;
    std::optional<Report> held_;
    // The session's events not yet handed to a wait.
    std::deque<SessionEvent> events_;
    event::Status lastStatus_;
    std::string lastMessage_;
    std::string failure_;
    nlohmann::ordered_json firmware_;
    friend class CliInteraction;
};

// Makes Ctrl-C (SIGINT) and SIGTERM end the call in order: the run in
// progress is logged without a result ("interrupted"), and the tool exits 130.
// Called once by the program's main, before anything else.
void InstallInterruptHandlers();
// Whether SIGINT or SIGTERM has come since the handlers were installed.
bool Interrupted();

// Checks every file of the call (the commands' checks) before anything is
// sent; then runs the commands in order on one connection. Both return the
// call's exit code.
int CheckFiles(Context& context);
int RunCommands(Context& context);
// The commands on each selected slot of the station at once (station.cpp).
int RunStation(const Options& options, HidSeam& seam, FILE* out, FILE* err);
// One object of --json, as one line.
void PrintJsonObject(FILE* out, const nlohmann::ordered_json& object);

// Runs the tool. `seam`, when given, replaces the USB and simulated programmers
// (tests).
int RunCli(const std::vector<std::string>& args, FILE* out, FILE* err, HidSeam* seam = nullptr);

}  // namespace qrv::cli
