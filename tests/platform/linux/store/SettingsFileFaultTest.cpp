#include "platform/linux/store/JsonUserDefaults.h"
#include "platform/sim/SimScheduler.h"
#include "settings/SettingsKeys.h"
#include "settings/SettingsModel.h"
#include "tests/platform/linux/TempDir.h"

#include <algorithm>
#include <atomic>
#include <csignal>
#include <fstream>
#include <functional>
#include <iostream>
#include <new>
#include <pwd.h>
#include <random>
#include <sched.h>
#include <sys/mman.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include <gtest/gtest.h>

namespace varnu::linux_backend {
namespace {

using namespace std::chrono_literals;
using nlohmann::json;
using testing::readText;
using testing::writeText;

constexpr const char* kSkip = "skip: ";

std::string readAll(int fd) {
    std::string text;
    char buffer[4096];
    for (ssize_t count; (count = ::read(fd, buffer, sizeof buffer)) != 0;) {
        if (count < 0 && errno != EINTR) {
            break;
        }
        if (count > 0) {
            text.append(buffer, static_cast<std::size_t>(count));
        }
    }
    return text;
}

struct ChildOutcome {
    // Empty when the child found everything as expected; kSkip and a reason when it could not
    // set up the fault.
    std::string failure;
    std::string errors; // what it wrote to stderr
};

// Runs body in a child process, so that lowered limits, mounts and dropped privileges stay there.
ChildOutcome inChild(const std::function<std::string()>& body) {
    int errors[2];
    int report[2];
    if (::pipe(errors) != 0 || ::pipe(report) != 0) {
        return {"pipe failed", ""};
    }
    const pid_t pid = ::fork();
    if (pid == 0) {
        // A child stuck for good fails the test instead of hanging it.
        ::alarm(30);
        ::dup2(errors[1], STDERR_FILENO);
        ::close(errors[0]);
        ::close(report[0]);
        const std::string failure = body();
        [[maybe_unused]] const auto written = ::write(report[1], failure.data(), failure.size());
        std::fflush(stderr);
        ::_exit(0);
    }
    ::close(errors[1]);
    ::close(report[1]);
    ChildOutcome outcome;
    outcome.failure = readAll(report[0]);
    outcome.errors = readAll(errors[0]);
    ::close(errors[0]);
    ::close(report[0]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        outcome.failure += " (the child died with status " + std::to_string(status) + ")";
    }
    return outcome;
}

int countOf(const std::string& text, const std::string& part) {
    int count = 0;
    for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
        ++count;
    }
    return count;
}

std::string expectEqual(const std::string& what, const std::string& actual,
                        const std::string& expected) {
    return actual == expected ? "" : what + ": '" + actual + "' instead of '" + expected + "'";
}

class SettingsFileFaultTest : public ::testing::Test {
protected:
    std::unique_ptr<JsonUserDefaults> open() {
        return std::make_unique<JsonUserDefaults>(file, scheduler);
    }
    bool exists(const std::filesystem::path& path) const {
        std::error_code ec;
        return std::filesystem::exists(std::filesystem::symlink_status(path, ec));
    }
    std::vector<std::string> namesInFolder(const std::filesystem::path& folder) const {
        std::vector<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(folder)) {
            names.push_back(entry.path().filename().string());
        }
        std::sort(names.begin(), names.end());
        return names;
    }

    testing::TempDir dir;
    std::filesystem::path folder = dir.path() / "varnu";
    std::filesystem::path file = folder / "defaults.json";
    std::shared_ptr<sim::SimScheduler> scheduler = sim::SimScheduler::create();
};

// What the writer in the child has got to, in memory shared with the test.
struct WriterProgress {
    std::atomic<std::int64_t> loaded{-1};
    std::atomic<std::int64_t> announced{-1}; // the generation being written
    std::atomic<std::int64_t> written{-1};   // the last generation flush() confirmed
};

constexpr int kKills = 200;
constexpr int kKeysPerGeneration = 20;

// Every key of one generation holds the generation's number, so that a mix of two is visible.
std::int64_t generationOnDisk(const std::filesystem::path& file, std::string& problem) {
    const auto text = readText(file);
    const auto document = json::parse(text, nullptr, false);
    if (document.is_discarded() || !document.is_object() || !document.contains("generation")) {
        problem = "not a settings file: '" + text + "'";
        return -1;
    }
    const auto generation = document["generation"].get<std::int64_t>();
    for (int key = 0; key < kKeysPerGeneration; ++key) {
        if (document.value("key." + std::to_string(key), std::int64_t{-1}) != generation) {
            problem = "a mix of generations: '" + text + "'";
        }
    }
    return generation;
}

[[noreturn]] void writeForever(const std::filesystem::path& file, WriterProgress& progress) {
    JsonUserDefaults store(file, nullptr);
    const auto loaded = integerValue(store.object("generation").value_or(std::int64_t{-1}));
    progress.loaded = loaded.value_or(-1);
    for (std::int64_t generation = progress.loaded + 1;; ++generation) {
        store.setInteger("generation", generation);
        for (int key = 0; key < kKeysPerGeneration; ++key) {
            store.setInteger("key." + std::to_string(key), generation);
        }
        progress.announced = generation;
        if (store.flush()) {
            progress.written = generation;
        }
    }
}

TEST_F(SettingsFileFaultTest, AWriterKilledAtAnyMomentLeavesThePreviousOrTheNewSettings) {
    auto* progress =
        static_cast<WriterProgress*>(::mmap(nullptr, sizeof(WriterProgress), PROT_READ | PROT_WRITE,
                                            MAP_SHARED | MAP_ANONYMOUS, -1, 0));
    ASSERT_NE(progress, MAP_FAILED);
    {
        JsonUserDefaults first(file, nullptr);
        first.setInteger("generation", 0);
        for (int key = 0; key < kKeysPerGeneration; ++key) {
            first.setInteger("key." + std::to_string(key), 0);
        }
        ASSERT_TRUE(first.flush());
    }
    std::mt19937 random(13);
    std::uniform_int_distribution<int> lifetimeMicroseconds(0, 20000);
    std::int64_t onDisk = 0;
    int killedMidWrite = 0;
    for (int kill = 0; kill < kKills; ++kill) {
        new (progress) WriterProgress;
        const pid_t pid = ::fork();
        if (pid == 0) {
            writeForever(file, *progress);
        }
        ASSERT_GT(pid, 0);
        std::this_thread::sleep_for(std::chrono::microseconds(lifetimeMicroseconds(random)));
        ::kill(pid, SIGKILL);
        ::waitpid(pid, nullptr, 0);

        const std::int64_t loaded = progress->loaded;
        const std::int64_t announced = progress->announced;
        const std::int64_t written = progress->written;
        if (loaded >= 0) {
            ASSERT_EQ(loaded, onDisk)
                << "the next start reads what the last one left, kill " << kill;
        }
        ASSERT_TRUE(exists(file)) << "kill " << kill;
        std::string problem;
        const auto generation = generationOnDisk(file, problem);
        ASSERT_EQ(problem, "") << "kill " << kill;
        const auto previous = written >= 0 ? written : onDisk;
        if (generation != previous) {
            ASSERT_EQ(generation, announced) << "kill " << kill << ", previous " << previous;
        }
        killedMidWrite += announced > written ? 1 : 0;
        onDisk = generation;
    }
    ::munmap(progress, sizeof(WriterProgress));
    EXPECT_GT(killedMidWrite, 0) << "no kill landed while a write was under way";

    // The next start reads the last generation and clears what a killed write leaves.
    writeText(file.string() + ".tmp", "{\"generation\": ");
    auto store = open();
    EXPECT_EQ(store->object("generation"), DefaultsValue(onDisk));
    EXPECT_EQ(namesInFolder(folder), std::vector<std::string>{"defaults.json"});
}

TEST_F(SettingsFileFaultTest, AFullDiskOrAFileSizeLimitKeepsThePreviousFileUntilAWriteSucceeds) {
    writeText(file, R"({"step": 4})");
    const auto before = readText(file);
    // Each fault is made and taken away inside the child.
    struct Fault {
        std::string name;
        std::string message;
        std::function<std::string()> make;
        std::function<void()> remove;
    };
    const auto filler = dir.path() / "filler";
    const std::vector<Fault> faults{
        {"file size limit", "File too large",
         [] {
             // The default action of SIGXFSZ would end the process before the write fails.
             std::signal(SIGXFSZ, SIG_IGN);
             rlimit limit{};
             ::getrlimit(RLIMIT_FSIZE, &limit);
             limit.rlim_cur = 8;
             return ::setrlimit(RLIMIT_FSIZE, &limit) == 0 ? "" : "setrlimit failed";
         },
         [] {
             rlimit limit{};
             ::getrlimit(RLIMIT_FSIZE, &limit);
             limit.rlim_cur = limit.rlim_max;
             ::setrlimit(RLIMIT_FSIZE, &limit);
         }},
        {"full disk", "No space left on device",
         [&]() -> std::string {
             // A small file system of the child's own, which it fills.
             if (::unshare(CLONE_NEWNS) != 0 ||
                 ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
                 ::mount("tmpfs", dir.path().c_str(), "tmpfs", 0, "size=64k") != 0) {
                 return std::string(kSkip) +
                        "mounting a file system needs root: " + std::strerror(errno);
             }
             writeText(file, before);
             std::ofstream fill(filler, std::ios::binary);
             const std::string block(4096, 'x');
             while (fill.write(block.data(), static_cast<std::streamsize>(block.size())) &&
                    fill.flush()) {
             }
             return "";
         },
         [&] { std::filesystem::remove(filler); }},
    };
    for (const auto& fault : faults) {
        writeText(file, before);
        const auto outcome = inChild([&]() -> std::string {
            if (auto failure = fault.make(); !failure.empty()) {
                return failure;
            }
            auto store = open();
            store->setInteger("step", 6);
            scheduler->advance(1s);
            store->setBool("showHUD", false);
            // Tried again each second, with the message only the first time.
            scheduler->advance(5s);
            if (auto failure = expectEqual("while failing", readText(file), before);
                !failure.empty()) {
                return failure;
            }
            if (exists(file.string() + ".tmp")) {
                return "a temporary file is left";
            }
            fault.remove();
            scheduler->advance(1s);
            const auto document = json::parse(readText(file), nullptr, false);
            if (document != json{{"step", 6}, {"showHUD", false}}) {
                return "after the fault: " + readText(file);
            }
            return "";
        });
        if (outcome.failure.starts_with(kSkip)) {
            std::cout << "[  SKIPPED ] " << fault.name << ": " << outcome.failure << "\n";
            continue;
        }
        EXPECT_EQ(outcome.failure, "") << fault.name;
        EXPECT_EQ(countOf(outcome.errors, "varnu: "), 1) << fault.name << ":\n" << outcome.errors;
        EXPECT_EQ(countOf(outcome.errors, fault.message), 1) << fault.name;
    }
}

TEST_F(SettingsFileFaultTest, AFileThatCannotBeReadIsNeverReplaced) {
    // Anyone may replace what is in the folder, so only the store's own care keeps these.
    std::filesystem::create_directories(folder);
    std::filesystem::permissions(dir.path(), std::filesystem::perms::all);
    std::filesystem::permissions(folder, std::filesystem::perms::all);
    const auto elsewhere = dir.path() / "elsewhere";
    struct Case {
        std::string name;
        std::function<void()> make;
        std::string message;
    };
    const std::vector<Case> cases{
        {"a folder",
         [&] {
             std::filesystem::create_directories(file);
             writeText(file / "inside", "kept");
         },
         "Is a directory"},
        {"a link that loops", [&] { std::filesystem::create_symlink("defaults.json", file); },
         "Too many levels of symbolic links"},
        {"a link into a folder that is gone",
         [&] { std::filesystem::create_symlink(elsewhere / "defaults.json", file); },
         "No such file or directory"},
        {"a pipe", [&] { ::mkfifo(file.c_str(), 0644); }, "not a regular file"},
        {"a file without read permission",
         [&] {
             writeText(file, R"({"step": 4})");
             std::filesystem::permissions(file, std::filesystem::perms::none);
         },
         "Permission denied"},
    };
    const auto snapshot = [&] {
        std::string text;
        for (const auto& entry : std::filesystem::recursive_directory_iterator(dir.path())) {
            const auto status = std::filesystem::symlink_status(entry.path());
            text += entry.path().string() + " " + std::to_string(static_cast<int>(status.type()));
            if (std::filesystem::is_regular_file(status)) {
                text += " " + readText(entry.path());
            }
            text += "\n";
        }
        return text;
    };
    for (const auto& unreadable : cases) {
        std::filesystem::remove_all(folder);
        std::filesystem::create_directories(folder);
        std::filesystem::permissions(folder, std::filesystem::perms::all);
        unreadable.make();
        const auto before = snapshot();
        const auto outcome = inChild([&]() -> std::string {
            // Root reads files whatever their permissions say; an ordinary user does not.
            if (::geteuid() == 0) {
                const passwd* nobody = ::getpwnam("nobody");
                if (!nobody || ::setgid(nobody->pw_gid) != 0 || ::setuid(nobody->pw_uid) != 0) {
                    return std::string(kSkip) + "cannot drop root's privileges";
                }
            }
            auto store = open();
            SettingsModel settings(std::shared_ptr<UserDefaults>(store.get(), [](auto*) {}));
            if (settings.step() != kDefaultStep) {
                return "step " + std::to_string(settings.step()) + " instead of the default";
            }
            settings.setStep(9);
            scheduler->advance(3s);
            if (store->flush()) {
                return "flush claims to have saved";
            }
            return "";
        });
        if (outcome.failure.starts_with(kSkip)) {
            std::cout << "[  SKIPPED ] " << unreadable.name << ": " << outcome.failure << "\n";
            continue;
        }
        EXPECT_EQ(outcome.failure, "") << unreadable.name;
        EXPECT_EQ(snapshot(), before) << unreadable.name;
        EXPECT_EQ(countOf(outcome.errors, "varnu: "), 1) << unreadable.name << outcome.errors;
        EXPECT_EQ(countOf(outcome.errors, unreadable.message), 1) << unreadable.name;
    }
}

TEST_F(SettingsFileFaultTest, ValuesOfTheWrongTypeGiveTheDefaultsAndStayAsTheyWere) {
    writeText(file, R"({"step": "ten", "showHUD": 1, "hideMonitorOSD": "yes", "language": 5})");
    auto store = open();
    SettingsModel settings(std::shared_ptr<UserDefaults>(store.get(), [](auto*) {}));
    EXPECT_EQ(settings.step(), kDefaultStep);
    EXPECT_EQ(settings.showHUD(), kDefaultShowHUD);
    EXPECT_EQ(settings.hideMonitorOSD(), kDefaultHideMonitorOSD);
    EXPECT_EQ(settings.language(), kDefaultLanguage);
    settings.setStep(7);
    ASSERT_TRUE(store->flush());
    EXPECT_EQ(json::parse(readText(file)),
              json::parse(R"({"step": 7, "showHUD": 1, "hideMonitorOSD": "yes", "language": 5})"));
}

TEST_F(SettingsFileFaultTest, ALinkedSettingsFileStaysALinkAndItsTargetIsWritten) {
    const auto dotfiles = dir.path() / "dotfiles";
    const auto target = dotfiles / "varnu.json";
    std::filesystem::create_directories(folder);
    std::filesystem::create_directories(dotfiles);
    std::filesystem::create_symlink("../dotfiles/varnu.json", file);

    // Dangling: the defaults, and the first write makes the file the link points to.
    {
        auto store = open();
        EXPECT_EQ(store->object("step"), std::nullopt);
        store->setInteger("step", 4);
        ASSERT_TRUE(store->flush());
    }
    EXPECT_TRUE(std::filesystem::is_symlink(file));
    EXPECT_EQ(json::parse(readText(target))["step"], 4);

    // Read through the link, written through it.
    {
        auto store = open();
        EXPECT_EQ(store->object("step"), DefaultsValue(std::int64_t{4}));
        store->setInteger("step", 6);
        ASSERT_TRUE(store->flush());
    }
    EXPECT_TRUE(std::filesystem::is_symlink(file));
    EXPECT_EQ(json::parse(readText(target))["step"], 6);
    EXPECT_EQ(namesInFolder(dotfiles), std::vector<std::string>{"varnu.json"});

    // A corrupt target is moved aside beside itself; the link stays.
    writeText(target, "{\"step\": 6,");
    {
        auto store = open();
        EXPECT_EQ(store->object("step"), std::nullopt);
        store->setInteger("step", 8);
        ASSERT_TRUE(store->flush());
    }
    EXPECT_TRUE(std::filesystem::is_symlink(file));
    EXPECT_EQ(json::parse(readText(target))["step"], 8);
    const auto names = namesInFolder(dotfiles);
    ASSERT_EQ(names.size(), 2u);
    EXPECT_TRUE(names[1].starts_with("varnu.json.corrupt-")) << names[1];
    EXPECT_EQ(readText(dotfiles / names[1]), "{\"step\": 6,");
}

} // namespace
} // namespace varnu::linux_backend
