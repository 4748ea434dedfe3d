// The manual pages: they render without a warning, and name the same settings with the same
// defaults as the README, all of them keys the program knows.

#include <gtest/gtest.h>
#include <unistd.h>

#include <map>
#include <regex>
#include <set>
#include <sstream>

#include "config/config_file.h"
#include "config/settings.h"
#include "support/process.h"
#include "support/temp_dir.h"

namespace tarnel::test {
namespace {

const char* const kPages[] = {"tarnel.1", "tarnel.conf.5", "tarnel-nsv.1", "tarnelctl.1",
                              "tarnel-web.1"};

std::string page_path(const std::string& page) {
    return std::string(TARNEL_MAN_DIR) + "/" + page;
}

bool have(const std::string& program) {
    const TempDir dir;
    return run_program("/bin/sh", {"-c", "command -v " + program}, dir.path(),
                       dir.file("out.txt")) == 0;
}

// Runs a checker over a page; returns what it printed (warnings), or the failure.
std::string check_output(const std::string& program, std::vector<std::string> args,
                         const std::string& page) {
    const TempDir dir;
    args.push_back(page_path(page));
    const int status = run_program(program, args, dir.path(), dir.file("out.txt"));
    const std::string output = read_file(dir.file("out.txt"));
    return status == 0 ? output : "exit status " + std::to_string(status) + ": " + output;
}

TEST(ManPagesTest, RenderWithoutWarnings) {
    for (const char* page : kPages) {
        ASSERT_TRUE(file_exists(page_path(page))) << page;
        EXPECT_EQ(check_output("/usr/bin/groff", {"-man", "-ww", "-z"}, page), "") << page;
        if (have("mandoc")) {
            EXPECT_EQ(check_output("/usr/bin/mandoc", {"-T", "lint", "-W", "warning"}, page), "")
                << page;
        }
    }
}

// A default, lower-cased, without quotes, brackets and a final full stop, and cut at the first
// comma or colon before a space ("(empty: none)" and "empty, no status file" are both "empty").
std::string plain_default(const std::string& text) {
    std::string plain;
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if ((c == ',' || c == ':') && (i + 1 == text.size() || text[i + 1] == ' ')) {
            break;
        }
        if (c != '`' && c != '"' && c != '(' && c != ')') {
            plain += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        }
    }
    while (!plain.empty() && (plain.back() == '.' || plain.back() == ' ')) {
        plain.pop_back();
    }
    while (!plain.empty() && plain.front() == ' ') {
        plain.erase(0, 1);
    }
    return plain;
}

// The first group of every match of pattern in text, in order.
std::vector<std::string> captures(const std::string& text, const std::regex& pattern) {
    std::vector<std::string> found;
    for (std::sregex_iterator it(text.begin(), text.end(), pattern), end; it != end; ++it) {
        found.push_back((*it)[1]);
    }
    return found;
}

// The setting keys in text: "Server=" and the like.
std::vector<std::string> keys_in(const std::string& text) {
    return captures(text, std::regex("([A-Z][A-Za-z]*=)"));
}

// The README's configuration table: key -> default.
std::map<std::string, std::string> readme_settings() {
    std::istringstream lines(read_file(std::string(TARNEL_SOURCE_DIR) + "/README.md"));
    std::map<std::string, std::string> settings;
    bool in_table = false;
    for (std::string line; std::getline(lines, line);) {
        if (line.rfind("| Key | Default | Meaning |", 0) == 0) {
            in_table = true;
            continue;
        }
        if (in_table && line.rfind("| `", 0) != 0) {
            if (!settings.empty()) {
                break;
            }
            continue;
        }
        if (in_table) {
            const size_t second = line.find('|', 1);
            const size_t third = line.find('|', second + 1);
            for (const std::string& key : keys_in(line.substr(1, second - 1))) {
                settings[key] = plain_default(line.substr(second + 1, third - second - 1));
            }
        }
    }
    return settings;
}

// The Settings section of tarnel.conf(5): key -> default.
std::map<std::string, std::string> manual_settings() {
    std::istringstream lines(read_file(page_path("tarnel.conf.5")));
    std::map<std::string, std::string> settings;
    std::vector<std::string> keys;
    bool in_section = false;
    bool key_line = false;
    bool default_follows = false;
    for (std::string line; std::getline(lines, line);) {
        if (line == ".SS Settings") {
            in_section = true;
        } else if (in_section && line.rfind(".SH", 0) == 0) {
            break;
        } else if (in_section && line == ".TP") {
            key_line = true;
        } else if (key_line) {
            keys = keys_in(line);
            key_line = false;
        } else if (default_follows || line.rfind("Default:", 0) == 0) {
            const std::string value = default_follows
                                          ? std::regex_replace(line, std::regex("^\\.B[IR]? "), "")
                                          : line.substr(8);
            default_follows = plain_default(value).empty();
            if (!default_follows) {
                for (const std::string& key : keys) {
                    settings[key] = plain_default(value);
                }
            }
        }
    }
    return settings;
}

TEST(ManPagesTest, TheConfigurationPageAndTheReadmeNameTheSameSettingsAndDefaults) {
    const std::map<std::string, std::string> readme = readme_settings();
    ASSERT_GE(readme.size(), 20u);  // the table was found
    EXPECT_EQ(manual_settings(), readme);
    for (const auto& [key, value] : readme) {
        EXPECT_TRUE(apply_config_line(key + "x")) << key << " is no key of the program";
    }
    reset_settings();
}

TEST(ManPagesTest, TheProgramPageNamesTheSignalsAndOptionsOfTheReadme) {
    const std::string readme = read_file(std::string(TARNEL_SOURCE_DIR) + "/README.md");
    const std::string page = read_file(page_path("tarnel.1"));
    for (const char* signal : {"SIGHUP", "SIGUSR1", "SIGUSR2", "SIGWINCH"}) {
        EXPECT_NE(readme.find(std::string("| `") + signal + "` |"), std::string::npos) << signal;
        EXPECT_NE(page.find(std::string(".B ") + signal + "\n"), std::string::npos) << signal;
    }
    for (const char* option : {"\\-\\-help", "\\-\\-version"}) {
        EXPECT_NE(page.find(std::string(".B ") + option + "\n"), std::string::npos) << option;
    }
    EXPECT_NE(page.find("\"Tarnel " + std::string(kVersion) + "\""), std::string::npos);
}

// The names in backquotes in a Markdown table cell: "`a`, `b`" gives a and b.
std::vector<std::string> quoted_names(const std::string& cell) {
    return captures(cell, std::regex("`([^`]+)`"));
}

// The guide's table of check's problems: "name (error)" or "name (warning)" per problem and kind.
std::set<std::string> guide_check_problems() {
    std::istringstream lines(read_file(std::string(TARNEL_SOURCE_DIR) + "/docs/content-tools.md"));
    std::set<std::string> problems;
    bool in_table = false;
    for (std::string line; std::getline(lines, line);) {
        if (line.rfind("| Problem | Kind | Meaning |", 0) == 0) {
            in_table = true;
        } else if (in_table && line.rfind("| `", 0) == 0) {
            const size_t second = line.find('|', 1);
            const size_t third = line.find('|', second + 1);
            const std::vector<std::string> names = quoted_names(line.substr(1, second - 1));
            std::vector<std::string> kinds;
            std::istringstream kind_cell(line.substr(second + 1, third - second - 1));
            for (std::string kind; kind_cell >> kind;) {
                kinds.push_back(kind.back() == ',' ? kind.substr(0, kind.size() - 1) : kind);
            }
            // One kind for every name of the row, or one kind per name in order.
            for (size_t i = 0; i < names.size(); ++i) {
                const std::string& kind = kinds.size() == names.size() ? kinds[i] : kinds.at(0);
                problems.insert(names[i] + " (" + kind + ")");
            }
        } else if (in_table && line.rfind("|---", 0) != 0) {
            break;
        }
    }
    return problems;
}

// The tags of the lists under "The errors:" and "The warnings:" in the check section of
// tarnel-nsv(1), in the same form.
std::set<std::string> manual_check_problems() {
    std::istringstream lines(read_file(page_path("tarnel-nsv.1")));
    std::set<std::string> problems;
    bool in_section = false;
    bool tag_line = false;
    std::string kind;
    const std::regex quoted("\"([^\"]+)\"");
    for (std::string line; std::getline(lines, line);) {
        if (line == ".SS check") {
            in_section = true;
        } else if (in_section && (line.rfind(".SH", 0) == 0 || line.rfind(".SS", 0) == 0)) {
            break;
        } else if (in_section && (line == "The errors:" || line == "The warnings:")) {
            kind = line == "The errors:" ? "error" : "warning";
        } else if (in_section && line == ".PP") {
            kind.clear();
        } else if (!kind.empty() && line == ".TP") {
            tag_line = true;
        } else if (tag_line) {
            tag_line = false;
            line = std::regex_replace(line, std::regex("\\\\-"), "-");
            if (line.rfind(".B ", 0) == 0) {
                problems.insert(line.substr(3) + " (" + kind + ")");
                continue;
            }
            for (std::sregex_iterator it(line.begin(), line.end(), quoted), end; it != end; ++it) {
                const std::string name = (*it)[1];
                if (name != ", ") {
                    problems.insert(name + " (" + kind + ")");
                }
            }
        }
    }
    return problems;
}

TEST(ManPagesTest, TheToolPageNamesTheCommandsOptionsAndCheckProblemsOfTheGuide) {
    const std::set<std::string> guide = guide_check_problems();
    ASSERT_GE(guide.size(), 25u);  // the table was found
    EXPECT_EQ(manual_check_problems(), guide);

    // Every command of the guide with the options of its synopsis.
    const std::string page = read_file(page_path("tarnel-nsv.1"));
    std::istringstream lines(read_file(std::string(TARNEL_SOURCE_DIR) + "/docs/content-tools.md"));
    std::set<std::string> commands;
    for (std::string line; std::getline(lines, line);) {
        if (line.rfind("    tarnel-nsv ", 0) != 0) {
            continue;
        }
        std::istringstream words(line);
        std::string word;
        words >> word >> word;
        commands.insert(word);
        EXPECT_NE(page.find(".B tarnel\\-nsv " + word), std::string::npos) << word;
        const std::regex option("--([a-z]+)");
        for (std::sregex_iterator it(line.begin(), line.end(), option), end; it != end; ++it) {
            EXPECT_NE(page.find("\\-\\-" + (*it)[1].str()), std::string::npos) << (*it)[0];
        }
    }
    EXPECT_EQ(commands, (std::set<std::string>{"check", "convert", "info", "mux"}));
}

TEST(ManPagesTest, TheControlPageNamesEveryCommandOfTheProgramsUsage) {
    const TempDir dir;
    ASSERT_EQ(run_program(TARNELCTL_BINARY, {"--help"}, dir.path(), dir.file("usage.txt")), 0);
    std::istringstream lines(read_file(dir.file("usage.txt")));
    const std::string page = read_file(page_path("tarnelctl.1"));
    std::set<std::string> commands;
    bool in_commands = false;
    for (std::string line; std::getline(lines, line);) {
        if (line == "Commands:") {
            in_commands = true;
        } else if (in_commands && line.rfind("  ", 0) == 0) {
            std::istringstream words(line);
            std::string command;
            words >> command;
            commands.insert(command);
        } else if (in_commands) {
            break;
        }
    }
    EXPECT_EQ(commands, (std::set<std::string>{"status", "next", "skip", "queue", "unqueue", "play",
                                               "title", "reload", "history"}));
    for (const std::string& command : commands) {
        // ".B status", ".BI queue file", ".BR "reload config" | playlist" and the like.
        EXPECT_TRUE(std::regex_search(page, std::regex("\\n\\.B[IR]? \"?" + command + "[ \"\\n]")))
            << command;
    }
}

// The README's jq line, run over a few as-run records: the plays of each title in the month,
// most played first.
TEST(ManPagesTest, TheReadmesAsRunExampleCountsThePlaysOfEachTitleInAMonth) {
    const TempDir dir;
    if (run_program("/bin/sh", {"-c", "command -v jq"}, dir.path(), dir.file("which.txt")) != 0) {
        GTEST_SKIP() << "jq is not installed (scripts/install-deps installs it)";
    }
    std::istringstream lines(read_file(std::string(TARNEL_SOURCE_DIR) + "/README.md"));
    std::string command;
    for (std::string line; std::getline(lines, line) && command.empty();) {
        if (line.rfind("jq -s -r 'map(select(.ended == \"played\"", 0) == 0) {
            command = line;
        }
    }
    ASSERT_FALSE(command.empty()) << "the README's jq line was not found";
    const std::string path = "/var/log/tarnel/news.as-run.jsonl";
    ASSERT_NE(command.find(path), std::string::npos);
    const auto record = [](const std::string& start, const std::string& title,
                           const std::string& ended) {
        return R"({"start":")" + start + R"(","end":")" + start + R"(","entry":"x.nsv","title":")" +
               title + R"(","seconds":20,"bytes":2500000,"ended":")" + ended +
               R"(","queued":false})" + "\n";
    };
    const std::string log = dir.write(
        "as-run.jsonl", record("2026-12-01T10:00:00.000Z", "Weather", "played") +
                            record("2026-12-02T10:00:00.000Z", "News", "played") +
                            record("2026-12-03T10:00:00.000Z", "News", "played") +
                            record("2026-12-04T10:00:00.000Z", "News", "skipped by request") +
                            record("2026-11-30T10:00:00.000Z", "Weather", "played") +
                            record("2027-01-01T00:00:00.000Z", "Weather", "played"));
    command.replace(command.find(path), path.size(), log);
    ASSERT_EQ(run_program("/bin/sh", {"-c", command}, dir.path(), dir.file("counts.txt")), 0)
        << read_file(dir.file("counts.txt"));
    EXPECT_EQ(read_file(dir.file("counts.txt")), "2\tNews\n1\tWeather\n");
}

}  // namespace
}  // namespace tarnel::test
