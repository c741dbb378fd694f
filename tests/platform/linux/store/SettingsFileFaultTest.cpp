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
#include <tuple>
#include <unistd.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace varnu::linux_backend {
namespace {

using namespace std::chrono_literals;
using nlohmann::json;
using testing::readText;
using testing::writeText;

// Ends a child process: status 0 when it found everything as expected, else 1 with what it
// found on stderr, where the test's matcher shows it.
[[noreturn]] void finish(const std::string& failure) {
    if (!failure.empty()) {
        std::fprintf(stderr, "FAILED: %s\n", failure.c_str());
    }
    std::fflush(stderr);
    ::_exit(failure.empty() ? 0 : 1);
}

int countOf(const std::string& text, const std::string& part) {
    int count = 0;
    for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
        ++count;
    }
    return count;
}

// Stderr with exactly this many of Varnu's messages, each about the text.
::testing::Matcher<const std::string&> messagesAbout(const std::string& text, int count) {
    return ::testing::Truly([=](const std::string& errors) {
        return countOf(errors, "varnu: ") == count && countOf(errors, text) == count;
    });
}

// A small file system over the folder, seen only by this process and its children.
bool mountSmallDisk(const std::filesystem::path& folder) {
    return ::unshare(CLONE_NEWNS) == 0 &&
           ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0 &&
           ::mount("tmpfs", folder.c_str(), "tmpfs", 0, "size=64k") == 0;
}

// Whether a child may (root, outside a locked-down container).
bool canMountSmallDisk(const std::filesystem::path& folder) {
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::_exit(mountSmallDisk(folder) ? 0 : 1);
    }
    int status = 1;
    ::waitpid(pid, &status, 0);
    return status == 0;
}

class SettingsFileFaultTest : public ::testing::Test {
protected:
    std::unique_ptr<JsonUserDefaults> open() {
        return std::make_unique<JsonUserDefaults>(file, scheduler);
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

    // The next start reads the last generation and clears what killed writes leave, this
    // version's and earlier ones', and nothing else, even where the names come close.
    writeText(folder / "defaults.json.tmp", "{\"generation\": ");
    writeText(folder / "defaults.json.varnu-tmp-Ab12Cd34", "{\"generation\": ");
    std::vector<std::string> notOurs{
        "defaults.json.varnu-tmp-Ab12Cd3",  "defaults.json.varnu-tmp-Ab12Cd345",
        "defaults.json.varnu-tmp-Ab12Cd3!", "defaults.json.varnu-tmp-Ab12Cd34.bak",
        "other.json.varnu-tmp-Ab12Cd34",    "xdefaults.json.tmp"};
    for (const auto& name : notOurs) {
        writeText(folder / name, "kept");
    }
    std::filesystem::create_directory(folder / "defaults.json.varnu-tmp-Folder00");
    std::filesystem::create_symlink("defaults.json", folder / "defaults.json.varnu-tmp-LinkLink");
    notOurs.insert(notOurs.end(), {"defaults.json.varnu-tmp-Folder00",
                                   "defaults.json.varnu-tmp-LinkLink", "defaults.json"});
    if (::geteuid() == 0) {
        const passwd* nobody = ::getpwnam("nobody");
        ASSERT_NE(nobody, nullptr);
        writeText(folder / "defaults.json.varnu-tmp-Nobody00", "someone else's");
        ASSERT_EQ(::chown((folder / "defaults.json.varnu-tmp-Nobody00").c_str(), nobody->pw_uid,
                          nobody->pw_gid),
                  0);
        notOurs.push_back("defaults.json.varnu-tmp-Nobody00");
    }
    std::sort(notOurs.begin(), notOurs.end());
    auto store = open();
    EXPECT_EQ(store->object("generation"), DefaultsValue(onDisk));
    EXPECT_EQ(namesInFolder(folder), notOurs);
    // A link put where earlier versions wrote must not lead a write elsewhere.
    const auto elsewhere = dir.path() / "elsewhere";
    writeText(elsewhere, "not the settings");
    std::filesystem::create_symlink(elsewhere, folder / "defaults.json.tmp");
    notOurs.push_back("defaults.json.tmp");
    std::sort(notOurs.begin(), notOurs.end());
    store->setInteger("generation", onDisk + 1);
    ASSERT_TRUE(store->flush());
    EXPECT_EQ(readText(elsewhere), "not the settings");
    EXPECT_EQ(namesInFolder(folder), notOurs);
    EXPECT_TRUE(std::filesystem::is_regular_file(std::filesystem::symlink_status(file)));
}

TEST_F(SettingsFileFaultTest, AFailedWriteKeepsThePreviousFileAndIsTriedAgainWithOneMessage) {
    struct Fault {
        std::string name;
        std::string message;
        std::function<void()> make;
        std::function<void()> remove;
        std::function<void()> setUp = [] {};
    };
    const auto filler = dir.path() / "filler";
    constexpr rlim_t kFileSizeLimit = 1024;
    // 0 lifts the limit.
    const auto limit = [](int resource, rlim_t value) {
        rlimit limit{};
        ::getrlimit(resource, &limit);
        limit.rlim_cur = value == 0 ? limit.rlim_max : value;
        ::setrlimit(resource, &limit);
    };
    const auto fileSizeLimit = [&](rlim_t bytes) { limit(RLIMIT_FSIZE, bytes); };
    const auto openFileLimit = [&](rlim_t count) { limit(RLIMIT_NOFILE, count); };
    const auto lowestFreeDescriptor = [] {
        const int fd = ::dup(STDERR_FILENO);
        ::close(fd);
        return static_cast<rlim_t>(fd);
    };
    const std::vector<Fault> faults{
        // Root ignores file modes, so the temporary file cannot be created for want of a
        // descriptor.
        {"no descriptor left", "Too many open files",
         [&] { openFileLimit(lowestFreeDescriptor()); }, [&] { openFileLimit(0); }},
        {"file size limit", "File too large",
         [&] {
             // The default action of SIGXFSZ would end the process before the write fails.
             std::signal(SIGXFSZ, SIG_IGN);
             fileSizeLimit(kFileSizeLimit);
         },
         [&] { fileSizeLimit(0); }},
        {"full disk", "No space left on device",
         [&] {
             std::ofstream fill(filler, std::ios::binary);
             const std::string block(4096, 'x');
             while (fill.write(block.data(), static_cast<std::streamsize>(block.size())) &&
                    fill.flush()) {
             }
         },
         [&] { std::filesystem::remove(filler); },
         // A small file system of the child's own, which it fills.
         [&] {
             if (!mountSmallDisk(dir.path())) {
                 finish("cannot mount");
             }
         }},
    };
    // Settings too long for the file size limit, which must still let the messages out.
    const std::string note(2 * kFileSizeLimit, 'x');
    const std::string before = json{{"step", 4}, {"note", note}}.dump();
    for (const auto& fault : faults) {
        if (fault.name == "full disk" && !canMountSmallDisk(dir.path())) {
            std::cout << "[  SKIPPED ] full disk: mounting a file system needs root\n";
            continue;
        }
        writeText(file, before);
        const auto scenario = [&]() -> std::string {
            fault.setUp();
            writeText(file, before);
            auto store = open();
            fault.make();
            store->setInteger("step", 6);
            scheduler->advance(1s);
            store->setBool("showHUD", false);
            // Tried again each second, with the message only the first time.
            scheduler->advance(5s);
            fault.remove();
            if (readText(file) != before ||
                namesInFolder(folder) != std::vector<std::string>{"defaults.json"}) {
                return "the file changed while failing";
            }
            scheduler->advance(999ms);
            if (readText(file) != before) {
                return "more than one write per second";
            }
            scheduler->advance(1ms);
            if (json::parse(readText(file)) !=
                json{{"step", 6}, {"showHUD", false}, {"note", note}}) {
                return "not written once the fault was gone";
            }
            // A failed flush keeps the change for the next one, and says so again.
            fault.make();
            store->setInteger("step", 8);
            if (store->flush() || store->object("step") != DefaultsValue(std::int64_t{8})) {
                return "the failed flush";
            }
            fault.remove();
            const bool flushed = store->flush();
            return flushed && json::parse(readText(file))["step"] == 8 ? "" : "the next flush";
        };
        EXPECT_EXIT(finish(scenario()), ::testing::ExitedWithCode(0),
                    messagesAbout(fault.message, 2))
            << fault.name;
    }
}

TEST_F(SettingsFileFaultTest, AFileThatCannotBeReadIsNeverReplaced) {
    // Anyone may replace what is in the folder, so only the store's own care keeps these.
    std::filesystem::create_directories(folder);
    std::filesystem::permissions(dir.path(), std::filesystem::perms::all);
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
        const auto scenario = [&]() -> std::string {
            // Root reads files whatever their permissions say; an ordinary user does not.
            const passwd* nobody = ::getpwnam("nobody");
            if (::geteuid() == 0 &&
                (!nobody || ::setgid(nobody->pw_gid) != 0 || ::setuid(nobody->pw_uid) != 0)) {
                return "cannot drop root's privileges";
            }
            auto store = open();
            SettingsModel settings(std::shared_ptr<UserDefaults>(store.get(), [](auto*) {}));
            if (settings.step() != kDefaultStep) {
                return "step " + std::to_string(settings.step()) + " instead of the default";
            }
            settings.setStep(9);
            scheduler->advance(3s);
            return store->flush() ? "flush claims to have saved" : "";
        };
        EXPECT_EXIT(finish(scenario()), ::testing::ExitedWithCode(0),
                    messagesAbout(unreadable.message, 1))
            << unreadable.name;
        EXPECT_EQ(snapshot(), before) << unreadable.name;
    }
}

TEST_F(SettingsFileFaultTest, ALinkedSettingsFileStaysALinkAndItsTargetIsWritten) {
    const auto dotfiles = dir.path() / "dotfiles";
    const auto target = dotfiles / "varnu.json";
    std::filesystem::create_directories(folder);
    std::filesystem::create_directories(dotfiles);
    std::filesystem::create_symlink("../dotfiles/varnu.json", file);
    // Dangling, then read through the link, then a corrupt target, which is moved aside beside
    // itself: every write goes to the target and leaves the link in place.
    using Start = std::tuple<std::optional<std::string>, std::optional<DefaultsValue>, int>;
    for (const auto& [contents, found, saved] :
         {Start{std::nullopt, std::nullopt, 4}, Start{std::nullopt, std::int64_t{4}, 6},
          Start{"{\"step\": 6,", std::nullopt, 8}}) {
        if (contents) {
            writeText(target, *contents);
        }
        auto store = open();
        EXPECT_EQ(store->object("step"), found);
        store->setInteger("step", saved);
        ASSERT_TRUE(store->flush());
        EXPECT_TRUE(std::filesystem::is_symlink(file));
        EXPECT_EQ(json::parse(readText(target))["step"], saved);
    }
    const auto names = namesInFolder(dotfiles);
    ASSERT_EQ(names.size(), 2u);
    EXPECT_TRUE(names[1].starts_with("varnu.json.corrupt-")) << names[1];
    EXPECT_EQ(readText(dotfiles / names[1]), "{\"step\": 6,");
}

} // namespace
} // namespace varnu::linux_backend
