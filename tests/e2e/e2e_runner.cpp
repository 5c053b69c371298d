// Runs every end-to-end case file (see CASES.md) against the real certexport binary.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace fs = std::filesystem;

namespace {

struct Paths {
    std::string binary, testModule, cases;
    std::vector<std::string> wrapper;  // e.g. a memory checker, with its options
};
Paths paths;

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
    std::string out;
};

// Starts the binary (behind the wrapper command, if any) with the arguments and environment, feeds
// it the key bytes and collects its standard output; a run that hangs is killed after a while.
Outcome runProgram(const std::vector<std::string>& wrapper, const std::string& program,
                   const std::vector<std::string>& arguments,
                   const std::vector<std::string>& environment, const std::string& input,
                   const fs::path& directory) {
    const fs::path inputFile = directory / ".stdin";
    const fs::path outputFile = directory / ".stdout";
    writeFile(inputFile, input);
    const pid_t child = fork();
    if (child == 0) {
        const int in = open(inputFile.c_str(), O_RDONLY);
        const int out = open(outputFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (in < 0 || out < 0 || chdir(directory.c_str()) != 0) {
            _exit(126);
        }
        dup2(in, STDIN_FILENO);
        dup2(out, STDOUT_FILENO);
        std::vector<char*> argv;
        for (const std::string& word : wrapper) {
            argv.push_back(const_cast<char*>(word.c_str()));
        }
        argv.push_back(const_cast<char*>(program.c_str()));
        for (const std::string& argument : arguments) {
            argv.push_back(const_cast<char*>(argument.c_str()));
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
    int status = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (waitpid(child, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            kill(child, SIGKILL);
            waitpid(child, &status, 0);
            ADD_FAILURE() << "the run did not end within 60 s";
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    if (WIFEXITED(status)) {
        outcome.exitStatus = WEXITSTATUS(status);
    } else {
        ADD_FAILURE() << "the run ended by signal " << WTERMSIG(status);
    }
    outcome.out = readFile(outputFile);
    return outcome;
}

std::string pemOf(const std::string& derPath) {
    const auto [status, pem] =
        runShell("openssl x509 -inform DER -outform PEM -in '" + derPath + "'", fs::current_path());
    EXPECT_EQ(status, 0) << "openssl could not read " << derPath;
    std::string crlf;
    for (char c : pem) {
        crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
    }
    return crlf;
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

void copyExecutable(const fs::path& from, const fs::path& to) {
    fs::copy_file(from, to, fs::copy_options::overwrite_existing);
    fs::permissions(to, fs::perms::owner_all);
}

class CaseTest : public testing::Test {
  public:
    explicit CaseTest(fs::path file) : file_(std::move(file)) {}

    void TestBody() override {
        const fs::path work =
            fs::temp_directory_path() /
            ("certexport-e2e-" + file_.stem().string() + "-" + std::to_string(getpid()));
        fs::remove_all(work);
        fs::create_directories(work / "bin");
        runCase(work);
        // Teardown commands run last, with every variable the setup commands printed.
        std::istringstream caseText(readFile(file_));
        for (std::string line; std::getline(caseText, line);) {
            if (line.rfind("teardown ", 0) == 0) {
                runShell(substitute(line.substr(9), variables_), work);
            }
        }
        if (!HasFailure()) {
            fs::remove_all(work);
        }
    }

  private:
    void runCase(const fs::path& work) {
        const fs::path bin = work / "bin";
        const fs::path modulePath = bin / "opensc-pkcs11.so";
        std::map<std::string, std::string>& variables = variables_;
        variables = {
            {"DATA", CERTEXPORT_SOURCE_DIR "/tests/data"},
            {"SRC", CERTEXPORT_SOURCE_DIR},
            {"WORK", work.string()},
            {"BIN", bin.string()},
            {"MODULE_PATH", modulePath.string()},
            {"OPENSC_MODULE", CERTEXPORT_OPENSC_MODULE},
            {"NO_ENTRY_MODULE", CERTEXPORT_NO_ENTRY_MODULE},
            {"SOFTHSM_MODULE", CERTEXPORT_SOFTHSM_MODULE},
        };
        std::vector<std::string> arguments, environment, scenario, expectedLog;
        std::vector<std::pair<std::string, std::string>> files;  // name, expectation
        std::string key, module = "test", expectedOut;
        bool moduleInCwd = false, viaSymlink = false;
        int expectedExit = 0;
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
            const std::string line = substitute(raw, variables);
            const std::string word = line.substr(0, line.find(' '));
            const std::string rest = line.size() > word.size() ? line.substr(word.size() + 1) : "";
            if (word == "arg") {
                arguments.push_back(unquote(rest));
            } else if (word == "key") {
                key = unquote(rest);
            } else if (word == "module") {
                module = rest;
            } else if (word == "module-in-cwd") {
                moduleInCwd = true;
            } else if (word == "symlink") {
                viaSymlink = true;
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
            } else if (word == "exit") {
                expectedExit = std::stoi(rest);
            } else if (word == "out") {
                expectedOut += unquote(rest);
            } else if (word == "call") {
                expectedLog.push_back(rest);
            } else if (word == "file") {
                const std::size_t space = rest.find(' ');
                files.emplace_back(rest.substr(0, space), rest.substr(space + 1));
            } else {
                FAIL() << "unknown directive: " << line;
            }
        }

        copyExecutable(paths.binary, bin / "certexport");
        if (module == "test") {
            fs::copy_file(paths.testModule, modulePath);
        } else if (module != "none") {
            fs::create_symlink(module, modulePath);
        }
        if (moduleInCwd) {
            fs::copy_file(paths.testModule, work / "opensc-pkcs11.so");
        }
        std::string program = (bin / "certexport").string();
        if (viaSymlink) {
            fs::create_directories(work / "link");
            fs::create_symlink(program, work / "link" / "certexport");
            program = (work / "link" / "certexport").string();
        }
        writeFile(work / "scenario.txt", joined(scenario));
        environment.push_back("P11TEST_SCENARIO=" + (work / "scenario.txt").string());
        environment.push_back("P11TEST_LOG=" + (work / "calls.log").string());

        const Outcome outcome =
            runProgram(paths.wrapper, program, arguments, environment, key, work);
        EXPECT_EQ(outcome.exitStatus, expectedExit);
        EXPECT_EQ(outcome.out, expectedOut) << "expected:\n"
                                            << printable(expectedOut) << "\nactual:\n"
                                            << printable(outcome.out);
        if (!expectedLog.empty()) {
            const std::vector<std::string> log = lines(readFile(work / "calls.log"));
            EXPECT_TRUE(logMatches(expectedLog, 0, log, 0))
                << "expected calls:\n"
                << joined(expectedLog) << "\nactual calls:\n"
                << joined(log);
        }
        for (const auto& [name, expectation] : files) {
            const fs::path path = work / name;
            if (expectation == "absent") {
                EXPECT_FALSE(fs::exists(path)) << name << " should not exist";
            } else if (expectation.rfind("cert ", 0) == 0) {
                EXPECT_EQ(readFile(path), pemOf(expectation.substr(5))) << name;
            } else {
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

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    // The environment may point the runner at another build of the binary and module.
    paths = {setting("CERTEXPORT_E2E_BINARY", CERTEXPORT_BINARY),
             setting("CERTEXPORT_E2E_MODULE", CERTEXPORT_TEST_MODULE),
             CERTEXPORT_SOURCE_DIR "/tests/e2e/cases",
             {}};
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
    return RUN_ALL_TESTS();
}
