// Runs every end-to-end case file (see CASES.md) against the real certexport binary, natively,
// (CERTEXPORT_E2E_WINE) the Windows build under Wine, or (CERTEXPORT_E2E_ROOT) the tool that a
// package installed in a Debian root.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <iconv.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <sys/personality.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace fs = std::filesystem;

namespace {

struct Paths {
    std::string binary, testModule, noEntryModule, cases;
    std::vector<std::string> wrapper;  // e.g. a memory checker, with its options
    std::string wine;                  // the Wine loader (wine64) for the Windows build, or empty
    std::string starter;               // under Wine, the program that a `parent` line names
    std::string root;                  // a root whose installed certexport runs, or empty
    bool keepFailed = false;           // a failed case's scratch folder stays, for a look at it
};
Paths paths;

const char* platformName() {
    return paths.wine.empty() ? "linux" : "windows";
}

// The path a Windows program under Wine sees for a host path: drive Z: is the host's root.
std::string windowsPath(const fs::path& path) {
    std::string text = "Z:" + path.string();
    std::replace(text.begin(), text.end(), '/', '\\');
    return text;
}

// With its backslashes escaped: it goes into expected <string>s.
std::string windowsPathInString(const fs::path& path) {
    std::string text;
    for (char c : windowsPath(path)) {
        text += c == '\\' ? std::string("\\\\") : std::string(1, c);
    }
    return text;
}

// The Windows build prints its own Japanese texts in code page 932 (Shift_JIS).
std::string toCodePage932(const std::string& utf8) {
    iconv_t converter = iconv_open("CP932", "UTF-8");
    std::string in = utf8, out(utf8.size() * 2 + 1, '\0');
    char* inPointer = &in[0];
    char* outPointer = &out[0];
    std::size_t inLeft = in.size(), outLeft = out.size();
    const bool converted = converter != reinterpret_cast<iconv_t>(-1) &&
                           iconv(converter, &inPointer, &inLeft, &outPointer, &outLeft) == 0;
    if (converter != reinterpret_cast<iconv_t>(-1)) {
        iconv_close(converter);
    }
    if (!converted) {
        throw std::runtime_error("not convertible to code page 932: " + utf8);
    }
    out.resize(out.size() - outLeft);
    return out;
}

std::string readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

void writeFile(const fs::path& path, const std::string& content) {
    std::ofstream(path, std::ios::binary) << content;
}

// Decodes a double-quoted string with \n \r \t \\ \" \0 \xNN escapes; the rest of the line after
// it must be empty.
std::string unquote(const std::string& text) {
    if (text.size() < 2 || text.front() != '"' || text.back() != '"') {
        throw std::runtime_error("expected a quoted string: " + text);
    }
    std::string bytes;
    for (std::size_t i = 1; i + 1 < text.size(); ++i) {
        if (text[i] != '\\') {
            bytes += text[i];
            continue;
        }
        const char escape = text[++i];
        switch (escape) {
            case 'n':
                bytes += '\n';
                break;
            case 'r':
                bytes += '\r';
                break;
            case 't':
                bytes += '\t';
                break;
            case '0':
                bytes += '\0';
                break;
            case 'x':
                bytes += static_cast<char>(std::stoi(text.substr(i + 1, 2), nullptr, 16));
                i += 2;
                break;
            default:
                bytes += escape;
        }
    }
    return bytes;
}

// Two double-quoted strings, separated by a blank.
std::pair<std::string, std::string> unquotePair(const std::string& text) {
    std::size_t end = 1;
    while (end < text.size() && text[end] != '"') {
        end += text[end] == '\\' ? 2 : 1;
    }
    if (end + 2 >= text.size() || text[end + 1] != ' ') {
        throw std::runtime_error("expected two quoted strings: " + text);
    }
    return {unquote(text.substr(0, end + 1)), unquote(text.substr(end + 2))};
}

std::string printable(const std::string& bytes) {
    std::string shown;
    for (unsigned char c : bytes) {
        if (c == '\n') {
            shown += "\\n\n";
        } else if (c == '\t') {
            shown += "\\t";
        } else if (c < 0x20 || c == 0x7f) {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02x", c);
            shown += hex;
        } else {
            shown += static_cast<char>(c);
        }
    }
    return shown;
}

std::string substitute(std::string line, const std::map<std::string, std::string>& variables) {
    for (std::size_t start; (start = line.find("${")) != std::string::npos;) {
        const std::size_t end = line.find('}', start);
        const auto found = variables.find(line.substr(start + 2, end - start - 2));
        if (end == std::string::npos || found == variables.end()) {
            throw std::runtime_error("unknown variable in: " + line);
        }
        line.replace(start, end - start + 1, found->second);
    }
    return line;
}

// Runs a shell command in a directory and returns its exit status and standard output.
std::pair<int, std::string> runShell(const std::string& command, const fs::path& directory) {
    const std::string line = "cd '" + directory.string() + "' && " + command;
    std::FILE* pipe = popen(line.c_str(), "r");
    std::string output;
    char buffer[4096];
    for (std::size_t got; (got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) {
        output.append(buffer, got);
    }
    const int status = pclose(pipe);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, output};
}

struct Outcome {
    int exitStatus = -1;
    std::string out, err;
    std::string echoed;       // what reached the terminal, when standard input was one
    bool terminalRestored{};  // line mode and echo back on when the run ended
};

// What a terminal shows of a stream: no carriage returns, no blanks at line ends, and Wine's cursor
// escapes taken out, where a move to the right passes over blanks.
std::string shownOnTerminal(const std::string& stream) {
    std::string shown;
    for (std::size_t i = 0; i < stream.size(); ++i) {
        if (stream.compare(i, 2, "\x1b[") == 0) {
            const std::size_t end = stream.find_first_not_of("0123456789;?", i + 2);
            if (end != std::string::npos && stream[end] == 'C') {
                shown.append(std::max(1, std::atoi(stream.c_str() + i + 2)), ' ');
            }
            i = end == std::string::npos ? stream.size() : end;
        } else if (stream[i] != '\r') {
            shown += stream[i];
        }
    }
    for (std::size_t blank; (blank = shown.find(" \n")) != std::string::npos;) {
        shown.erase(blank, 1);
    }
    return shown.substr(0, shown.find_last_not_of(' ') + 1);
}

// How a run starts: standard input on a pseudo-terminal, standard output too for a console, and
// SIGINT ignored, as a shell starts a background job.
struct Start {
    bool onTerminal = false, outputOnTerminal = false, ignoreSigint = false;
    // Keys typed later, each once the output shows its text and the program reads keys again.
    std::vector<std::pair<std::string, std::string>> laterKeys;  // text shown, keys
};

// Starts the binary (behind the wrapper command or Wine, if any) with the arguments and
// environment, feeds it the key bytes and collects its standard output (unless it is left on the
// terminal) and error; a run that hangs is killed after a while.
Outcome runProgram(const std::string& program, const std::vector<std::string>& arguments,
                   const std::vector<std::string>& environment, const std::string& input,
                   const fs::path& directory, const Start& start,
                   const std::function<void(pid_t)>& atPrompt) {
    const bool wine = !paths.wine.empty();
    const fs::path inputFile = directory / ".stdin";
    const fs::path outputFile = directory / ".stdout";
    const fs::path errorFile = directory / ".stderr";
    writeFile(inputFile, input);
    // _getch reads the console, which Wine makes of a terminal on standard input; the Linux build
    // reads a terminal in raw mode. The key goes to a pseudo-terminal once the program has put it
    // in raw mode, that is, reads keys.
    int terminal = -1;
    if (start.onTerminal) {
        terminal = posix_openpt(O_RDWR | O_NOCTTY);
        if (terminal < 0 || grantpt(terminal) != 0 || unlockpt(terminal) != 0) {
            ADD_FAILURE() << "no pseudo-terminal";
            return {};
        }
        fcntl(terminal, F_SETFL, O_NONBLOCK);
        // Wide enough that Wine's console, as wide as the terminal, breaks no line that holds the
        // program's path.
        const struct winsize size = {50, 250, 0, 0};
        ioctl(terminal, TIOCSWINSZ, &size);
    }
    const std::string terminalName = start.onTerminal ? ptsname(terminal) : "";
    std::vector<std::string> command = wine ? std::vector<std::string>{paths.wine} : paths.wrapper;
    if (!paths.root.empty()) {
        // In the root, from its PATH, in the run's directory as the root sees it.
        command = {"/usr/bin/unshare", "--root=" + paths.root,
                   "--wd=" + directory.string().substr(paths.root.size())};
    }
    command.push_back(program);
    command.insert(command.end(), arguments.begin(), arguments.end());
    const pid_t child = fork();
    if (child == 0) {
        // Under Wine a session of its own: the terminal becomes its controlling one, and a hung
        // run is killed with the console process Wine starts beside it.
        if (start.onTerminal) {
            setsid();
        }
        const int in = start.onTerminal ? open(terminalName.c_str(), O_RDWR)
                                        : open(inputFile.c_str(), O_RDONLY);
        const int out = open(outputFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        const int err = open(errorFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (in < 0 || out < 0 || err < 0 || chdir(directory.c_str()) != 0) {
            _exit(126);
        }
        dup2(in, STDIN_FILENO);
        dup2(start.outputOnTerminal ? in : out, STDOUT_FILENO);
        dup2(err, STDERR_FILENO);
        if (start.ignoreSigint) {
            signal(SIGINT, SIG_IGN);  // kept across exec, as a shell's background job has it
        }
        if (terminal >= 0) {
            close(terminal);
        }
        std::vector<char*> argv;
        for (const std::string& word : command) {
            argv.push_back(const_cast<char*>(word.c_str()));
        }
        argv.push_back(nullptr);
        std::vector<char*> envp;
        for (const std::string& variable : environment) {
            envp.push_back(const_cast<char*>(variable.c_str()));
        }
        envp.push_back(nullptr);
        execve(argv[0], argv.data(), envp.data());
        _exit(127);
    }
    Outcome outcome;
    // Held open here too, so that what the run echoed stays readable after it has ended.
    const int slave = start.onTerminal ? open(terminalName.c_str(), O_RDWR | O_NOCTTY) : -1;
    const auto drainTerminal = [&]() {
        char echoed[256];
        for (ssize_t got; (got = read(terminal, echoed, sizeof echoed)) > 0;) {
            outcome.echoed.append(echoed, got);
        }
    };
    int status = 0;
    bool keySent = false, prompted = false;
    std::size_t laterSent = 0;
    // What the program has shown so far, where the case compares its output.
    const auto shows = [&](const std::string& text) {
        const std::string shown =
            start.outputOnTerminal ? shownOnTerminal(outcome.echoed) : readFile(outputFile);
        return shown.find(text) != std::string::npos;
    };
    const int limit = wine ? 30 : 60;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(limit);
    // Wine's console takes keys from its start, and one typed before the program reads may act
    // on the console instead (Ctrl+C ends the process): the program flushes what it wrote before
    // it reads, so keys wait for that output.
    const auto readsKeys = [&]() {
        struct termios mode;
        std::error_code noSize;
        return tcgetattr(terminal, &mode) == 0 && !(mode.c_lflag & ICANON) &&
               (!wine || !outcome.echoed.empty() || fs::file_size(outputFile, noSize) > 0);
    };
    while (waitpid(child, &status, WNOHANG) == 0) {
        if (start.onTerminal) {
            drainTerminal();
            if (!keySent && readsKeys()) {
                if (!prompted) {
                    atPrompt(child);
                    prompted = true;
                }
                keySent = write(terminal, input.data(), input.size()) ==
                          static_cast<ssize_t>(input.size());
            } else if (keySent && laterSent < start.laterKeys.size() &&
                       shows(start.laterKeys[laterSent].first) && readsKeys()) {
                const std::string& keys = start.laterKeys[laterSent++].second;
                EXPECT_EQ(write(terminal, keys.data(), keys.size()),
                          static_cast<ssize_t>(keys.size()));
            }
        }
        if (std::chrono::steady_clock::now() > deadline) {
            kill(start.onTerminal ? -child : child, SIGKILL);
            waitpid(child, &status, 0);
            ADD_FAILURE() << "the run did not end within " << limit << " s";
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    if (terminal >= 0) {
        drainTerminal();
        close(slave);
        struct termios mode;
        outcome.terminalRestored =
            tcgetattr(terminal, &mode) == 0 && (mode.c_lflag & ICANON) && (mode.c_lflag & ECHO);
        close(terminal);
    }
    // A signal shows as the shell shows it, 128 + its number, so a crash never matches an exit.
    outcome.exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    outcome.out = readFile(outputFile);
    outcome.err = readFile(errorFile);
    return outcome;
}

// A text-mode stream's line ends, as the Windows build writes them.
std::string withCrLf(const std::string& text) {
    std::string crlf;
    for (char c : text) {
        crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
    }
    return crlf;
}

std::string pemOf(const std::string& derPath) {
    const auto [status, pem] =
        runShell("openssl x509 -inform DER -outform PEM -in '" + derPath + "'", fs::current_path());
    EXPECT_EQ(status, 0) << "openssl could not read " << derPath;
    // Wine 8.0's CryptBinaryToStringA mis-encodes 48k+1 and 48k+2 bytes (k >= 1): a fault of Wine,
    // not of the tool, so certificates checked under Wine must avoid those lengths.
    const auto size = fs::file_size(derPath);
    EXPECT_FALSE(!paths.wine.empty() && size > 48 && (size % 48 == 1 || size % 48 == 2))
        << derPath << " has a length Wine cannot encode: " << size;
    return withCrLf(pem);
}

// The call log matches when its lines equal the expected ones, "..." standing for any run.
bool logMatches(const std::vector<std::string>& expected, std::size_t e,
                const std::vector<std::string>& actual, std::size_t a) {
    if (e == expected.size()) {
        return a == actual.size();
    }
    if (expected[e] == "...") {
        for (std::size_t skip = a; skip <= actual.size(); ++skip) {
            if (logMatches(expected, e + 1, actual, skip)) {
                return true;
            }
        }
        return false;
    }
    return a < actual.size() && expected[e] == actual[a] &&
           logMatches(expected, e + 1, actual, a + 1);
}

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> result;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        result.push_back(line);
    }
    return result;
}

std::string joined(const std::vector<std::string>& lines) {
    std::string text;
    for (const std::string& line : lines) {
        text += line + "\n";
    }
    return text;
}

// The runner is its children's subreaper: a process that a case started and that outlived its
// starter (pcscd, a card) is the runner's child, ended here after the case's teardown. A runner
// that CTest kills on a timeout takes them with it, since CTest ends the runner's descendants
// first.
void endAdoptedProcesses() {
    for (const auto& entry : fs::directory_iterator("/proc")) {
        const std::string stat = readFile(entry.path() / "stat");
        std::istringstream fields(stat.substr(stat.rfind(')') + 1));
        std::string state;
        pid_t parent = 0;
        if (fields >> state >> parent && parent == getpid()) {
            const pid_t pid = std::stoi(entry.path().filename().string());
            kill(pid, SIGKILL);
            waitpid(pid, nullptr, 0);
        }
    }
}

void copyExecutable(const fs::path& from, const fs::path& to) {
    fs::copy_file(from, to, fs::copy_options::overwrite_existing);
    fs::permissions(to, fs::perms::owner_all);
}

// What one run of the program must give; `before` is the command that a case's `again` runs
// ahead of a further run.
struct Expected {
    std::string before;
    int exit = 0;
    std::string out;
    std::optional<std::string> err;
    std::vector<std::string> log;
    std::vector<std::pair<std::string, std::string>> files;  // name, expectation
    std::optional<std::string> screen;                       // what the terminal shows
};

class CaseTest : public testing::Test {
  public:
    explicit CaseTest(fs::path file) : file_(std::move(file)) {}

    void TestBody() override {
        const fs::path scratch =
            paths.root.empty() ? fs::temp_directory_path() : fs::path(paths.root) / "tmp";
        const fs::path work =
            scratch / ("certexport-e2e-" + file_.stem().string() + "-" + std::to_string(getpid()));
        fs::remove_all(work);
        fs::create_directories(work / "bin");
        struct EndOfCase {
            CaseTest& test;
            const fs::path& work;
            ~EndOfCase() { test.tearDown(work); }
        } endOfCase{*this, work};
        runCase(work);
    }

  private:
    // Runs however the case ended, a failed check or an error in the case file included: the
    // teardown commands, with every variable the setup commands printed, then the end of whatever
    // the case left running.
    void tearDown(const fs::path& work) {
        std::istringstream caseText(readFile(file_));
        for (std::string line; std::getline(caseText, line) && !IsSkipped();) {
            if (line.rfind("teardown ", 0) == 0) {
                try {
                    runShell(substitute(line.substr(9), variables_), work);
                } catch (const std::exception& error) {
                    ADD_FAILURE() << error.what();
                }
            }
        }
        // Under Wine the adopted processes are Wine's own servers, which every case shares.
        if (paths.wine.empty()) {
            endAdoptedProcesses();
        }
        if (!HasFailure() || !paths.keepFailed) {
            fs::remove_all(work);
        } else {
            std::fprintf(stderr, "kept %s\n", work.c_str());
        }
    }

    void runCase(const fs::path& work) {
        const bool wine = !paths.wine.empty();
        const fs::path bin = work / "bin";
        const fs::path modulePath = bin / (wine ? "opensc-pkcs11.dll" : "opensc-pkcs11.so");
        const bool installed = !paths.root.empty();
        std::string program =
            installed ? "certexport" : (bin / (wine ? "certexport.exe" : "certexport")).string();
        std::map<std::string, std::string>& variables = variables_;
        variables = {
            {"DATA", CERTEXPORT_SOURCE_DIR "/tests/data"},
            {"SRC", CERTEXPORT_SOURCE_DIR},
            {"WORK", work.string()},
            {"BIN", bin.string()},
            {"PROGRAM", wine ? windowsPathInString(program) : program},
            {"MODULE_PATH", wine ? windowsPathInString(modulePath) : modulePath.string()},
            {"OPENSC_MODULE", CERTEXPORT_OPENSC_MODULE},
            {"NO_ENTRY_MODULE", paths.noEntryModule},
            {"SOFTHSM_MODULE", CERTEXPORT_SOFTHSM_MODULE},
        };
        std::vector<std::string> arguments, environment, scenario, atPrompt;
        std::vector<Expected> runs(1);
        std::string key, module = "test", parent;
        bool moduleInCwd = false, viaSymlink = false;
        Start start;
        start.onTerminal = wine;
        for (char** variable = environ; *variable; ++variable) {
            if (std::string(*variable).rfind("P11TEST_", 0) != 0) {
                environment.push_back(*variable);
            }
        }
        std::istringstream caseText(readFile(file_));
        for (std::string raw; std::getline(caseText, raw);) {
            if (raw.empty() || raw[0] == '#') {
                continue;
            }
            if (raw.rfind("teardown ", 0) == 0) {
                continue;
            }
            if (raw.rfind("at-prompt ", 0) == 0) {
                atPrompt.push_back(raw.substr(10));
                continue;
            }
            std::string rest = substitute(raw, variables), word;
            const auto nextWord = [&rest, &word]() {
                word = rest.substr(0, rest.find(' '));
                rest = rest.size() > word.size() ? rest.substr(word.size() + 1) : "";
            };
            nextWord();
            if (word == "linux" || word == "windows") {
                if (word != platformName()) {
                    continue;
                }
                nextWord();
            }
            if (word == "platform") {
                if (rest != platformName()) {
                    GTEST_SKIP() << "a case for " << rest << " only";
                }
            } else if (word == "arg") {
                arguments.push_back(unquote(rest));
            } else if (word == "key") {
                key = unquote(rest);
            } else if (word == "key-after") {
                auto [shown, keys] = unquotePair(rest);
                if (wine && !start.outputOnTerminal) {
                    shown = withCrLf(toCodePage932(shown));
                }
                start.laterKeys.emplace_back(shown, keys);
            } else if (word == "module") {
                module = rest;
            } else if (word == "module-in-cwd") {
                moduleInCwd = true;
            } else if (word == "symlink") {
                viaSymlink = true;
            } else if (word == "terminal") {
                start.onTerminal = true;
            } else if (word == "pipe") {
                start.onTerminal = false;
            } else if (word == "ignore-sigint") {
                start.ignoreSigint = true;
            } else if (word == "console") {
                start.onTerminal = start.outputOnTerminal = true;
            } else if (word == "parent") {
                ASSERT_TRUE(wine) << "parent: a Windows process, under Wine only";
                parent = rest;
            } else if (word == "env") {
                environment.push_back(rest);
            } else if (word == "setup") {
                const auto [status, output] = runShell(rest, work);
                if (status == 77) {
                    GTEST_SKIP() << output;
                }
                ASSERT_EQ(status, 0) << "setup failed: " << rest << "\n" << output;
                for (const std::string& assignment : lines(output)) {
                    const std::size_t equals = assignment.find('=');
                    if (equals != std::string::npos) {
                        variables[assignment.substr(0, equals)] = assignment.substr(equals + 1);
                        environment.push_back(assignment);
                    }
                }
            } else if (word == "|") {
                scenario.push_back(rest);
            } else if (word == "again") {
                runs.emplace_back();
                runs.back().before = rest;
            } else if (word == "exit") {
                runs.back().exit = std::stoi(rest);
            } else if (word == "out") {
                runs.back().out += unquote(rest);
            } else if (word == "err") {
                runs.back().err = runs.back().err.value_or("") + unquote(rest);
            } else if (word == "text") {
                runs.back().out +=
                    wine && !start.outputOnTerminal ? toCodePage932(unquote(rest)) : unquote(rest);
            } else if (word == "screen") {
                runs.back().screen = runs.back().screen.value_or("") + unquote(rest);
            } else if (word == "call") {
                runs.back().log.push_back(rest);
            } else if (word == "file") {
                const std::size_t space = rest.find(' ');
                runs.back().files.emplace_back(rest.substr(0, space), rest.substr(space + 1));
            } else {
                FAIL() << "unknown directive: " << raw;
            }
        }

        if (installed) {
            module = "none";  // the package placed the module link beside the tool
        } else {
            copyExecutable(paths.binary, program);
        }
        if (module == "test") {
            fs::copy_file(paths.testModule, modulePath);
        } else if (wine && module != "none") {
            fs::copy_file(module, modulePath);
        } else if (module != "none") {
            fs::create_symlink(module, modulePath);
        }
        if (moduleInCwd) {
            fs::copy_file(paths.testModule, work / modulePath.filename());
        }
        if (viaSymlink) {
            fs::create_directories(work / "link");
            fs::create_symlink(program, work / "link" / "certexport");
            program = (work / "link" / "certexport").string();
        }
        if (!parent.empty()) {
            const fs::path starter = work / "parent" / parent;
            fs::create_directories(starter.parent_path());
            copyExecutable(paths.starter, starter);
            arguments.insert(arguments.begin(), windowsPath(program));
            program = starter.string();
        }
        writeFile(work / "scenario.txt", joined(scenario));
        environment.push_back("P11TEST_SCENARIO=" + (work / "scenario.txt").string());
        environment.push_back("P11TEST_LOG=" + (work / "calls.log").string());

        if (!atPrompt.empty() && !paths.wrapper.empty()) {
            GTEST_SKIP() << "the wrapper's own command line holds the arguments";
        }
        ASSERT_TRUE(atPrompt.empty() || start.onTerminal) << "at-prompt needs terminal";
        const auto checkAtPrompt = [&](pid_t pid) {
            std::map<std::string, std::string> withPid = variables;
            withPid["PID"] = std::to_string(pid);
            for (const std::string& command : atPrompt) {
                const auto [status, output] = runShell(substitute(command, withPid), work);
                EXPECT_EQ(status, 0) << "at the prompt: " << command << "\n" << output;
            }
        };
        for (const Expected& run : runs) {
            if (!run.before.empty()) {
                const auto [status, output] = runShell(run.before, work);
                ASSERT_EQ(status, 0) << "before running again: " << run.before << "\n" << output;
            }
            fs::remove(work / "calls.log");
            const Outcome outcome =
                runProgram(program, arguments, environment, key, work, start, checkAtPrompt);
            if (start.onTerminal && !wine) {
                // On a console the output shows what reached the terminal, an echoed key included.
                EXPECT_TRUE(start.outputOnTerminal || outcome.echoed.find(key) == std::string::npos)
                    << "the key was echoed";
                EXPECT_TRUE(outcome.terminalRestored) << "the terminal was left in raw mode";
            }
            checkRun(run, outcome, work, start.outputOnTerminal);
        }
    }

    void checkRun(const Expected& run, const Outcome& outcome, const fs::path& work,
                  bool onConsole) {
        const std::string expectedOut = onConsole            ? shownOnTerminal(run.out)
                                        : paths.wine.empty() ? run.out
                                                             : withCrLf(run.out);
        const std::string out = onConsole ? shownOnTerminal(outcome.echoed) : outcome.out;
        EXPECT_EQ(outcome.exitStatus, run.exit);
        EXPECT_EQ(out, expectedOut) << "expected:\n"
                                    << printable(expectedOut) << "\nactual:\n"
                                    << printable(out);
        if (run.screen) {
            EXPECT_EQ(shownOnTerminal(outcome.echoed), shownOnTerminal(*run.screen))
                << "the terminal";
        }
        if (run.err) {
            EXPECT_EQ(outcome.err, *run.err) << "standard error";
        } else {
            std::fputs(outcome.err.c_str(), stderr);  // unchecked, but shown
        }
        if (!run.log.empty()) {
            const std::vector<std::string> log = lines(readFile(work / "calls.log"));
            EXPECT_TRUE(logMatches(run.log, 0, log, 0)) << "expected calls:\n"
                                                        << joined(run.log) << "\nactual calls:\n"
                                                        << joined(log);
        }
        for (const auto& [name, expectation] : run.files) {
            const fs::path path = work / name;
            if (expectation == "absent") {
                EXPECT_FALSE(fs::exists(path)) << name << " should not exist";
            } else if (expectation.rfind("cert ", 0) == 0) {
                EXPECT_EQ(readFile(path), pemOf(expectation.substr(5))) << name;
            } else {
                // A missing file reads as empty: its absence must not pass for empty bytes.
                EXPECT_TRUE(fs::exists(path)) << name << " is missing";
                EXPECT_EQ(printable(readFile(path)), printable(unquote(expectation))) << name;
            }
        }
    }

    fs::path file_;
    std::map<std::string, std::string> variables_;
};

}  // namespace

std::string setting(const char* name, const char* builtIn) {
    const char* value = std::getenv(name);
    return value ? value : builtIn;
}

std::string wineServer() {
    return "'" + (fs::path(paths.wine).parent_path() / "wineserver").string() + "'";
}

// One Wine prefix and one Wine server for the whole run. Left to itself, the server that wineboot
// starts shuts down a few seconds later, while the cases run, and a case's run starts another; a
// run whose server goes away ends with exit status 1 and no output. So the server is persistent
// until stopWine. The log is a file, since a pipe would stay open as long as the server's
// services run. False, and said why, if Wine cannot start: the suite must then fail, never pass on
// nothing.
//
// Debian's wine64 has no preloader to keep the page at 0x7ffe0000 free for Wine's shared user data,
// and recent Linux kernels start the loader's heap anywhere in the GiB above the loader, that page
// included: now and then a Wine process then ends with status 1 before the program starts, silently
// under WINEDEBUG=-all. So every Wine process of the run starts without address randomisation.
bool startWine(const fs::path& prefix) {
    if (personality(personality(0xffffffff) | ADDR_NO_RANDOMIZE) == -1) {
        std::perror("personality");
        return false;
    }
    setenv("WINEPREFIX", prefix.c_str(), 1);
    setenv("WINEDEBUG", "-all", 1);
    const std::string log = (prefix / "start.log").string();
    const int status = runShell(wineServer() + " -p >'" + log + "' 2>&1 && timeout 120 '" +
                                    paths.wine + "' wineboot -i >>'" + log + "' 2>&1",
                                ".")
                           .first;
    if (status != 0) {
        std::fprintf(stderr, "Wine cannot start (%s -p, then wineboot -i: exit %d):\n%s\n",
                     wineServer().c_str(), status, readFile(log).c_str());
        return false;
    }
    for (const std::string& file : {paths.binary, paths.testModule, paths.noEntryModule}) {
        if (!fs::exists(file)) {
            std::fprintf(stderr, "The Windows build lacks %s\n", file.c_str());
            return false;
        }
    }
    return true;
}

void stopWine(const fs::path& prefix) {
    runShell(wineServer() + " -k 2>/dev/null || wineserver -k", ".");
    fs::remove_all(prefix);
}

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    prctl(PR_SET_CHILD_SUBREAPER, 1);
    // The environment may point the runner at another build of the binary and modules;
    // CERTEXPORT_E2E_WINE (the wine64 loader) makes them the Windows build's, run under Wine.
    paths = {setting("CERTEXPORT_E2E_BINARY", CERTEXPORT_BINARY),
             setting("CERTEXPORT_E2E_MODULE", CERTEXPORT_TEST_MODULE),
             setting("CERTEXPORT_E2E_NO_ENTRY_MODULE", CERTEXPORT_NO_ENTRY_MODULE),
             CERTEXPORT_SOURCE_DIR "/tests/e2e/cases",
             {},
             setting("CERTEXPORT_E2E_WINE", ""),
             setting("CERTEXPORT_E2E_STARTER", ""),
             setting("CERTEXPORT_E2E_ROOT", ""),
             setting("CERTEXPORT_KEEP_FAILED", "") == "1"};
    if (paths.wine == "1") {
        paths.wine = "/usr/lib/wine/wine64";  // where Debian's wine64 puts it
    }
    // CERTEXPORT_E2E_WRAPPER: an absolute command path and options, separated by blanks.
    std::istringstream wrapper(setting("CERTEXPORT_E2E_WRAPPER", ""));
    for (std::string word; wrapper >> word;) {
        paths.wrapper.push_back(word);
    }
    std::vector<fs::path> cases;
    for (const auto& entry : fs::directory_iterator(paths.cases)) {
        if (entry.path().extension() == ".case") {
            cases.push_back(entry.path());
        }
    }
    std::sort(cases.begin(), cases.end());
    for (const fs::path& file : cases) {
        // A '-' in a test name would read as a negative filter when CTest runs one case.
        std::string name = file.stem().string();
        std::replace(name.begin(), name.end(), '-', '_');
        testing::RegisterTest("Case", name.c_str(), nullptr, nullptr, file.string().c_str(), 0,
                              [file]() -> testing::Test* { return new CaseTest(file); });
    }
    if (paths.wine.empty()) {
        return RUN_ALL_TESTS();
    }
    std::string prefix = (fs::temp_directory_path() / "certexport-wine-XXXXXX").string();
    if (!mkdtemp(&prefix[0])) {
        std::perror(prefix.c_str());
        return 1;
    }
    if (!startWine(prefix)) {
        stopWine(prefix);
        return 1;
    }
    const int result = RUN_ALL_TESTS();
    stopWine(prefix);
    return result;
}
