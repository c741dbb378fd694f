// A settings file of any content: loading it never fails, the settings read from it are
// whatever their typed reads make of it, the next write keeps them, and a fresh start reads
// back exactly what was kept.

#include "app/VolumeKeys.h"
#include "platform/linux/store/JsonUserDefaults.h"
#include "settings/SettingsKeys.h"
#include "settings/SettingsModel.h"

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <stdlib.h>
#include <string>

namespace {

using namespace varnu;
using namespace varnu::linux_backend;

const std::string kFuzzedOutput = "fuzzed-output";
const std::string kOtherOutput = "other-output";

// Every write fsyncs, so a memory-backed folder keeps the fuzzer fast where there is one.
std::filesystem::path makeFolder() {
    std::error_code ec;
    auto base = std::filesystem::path("/dev/shm");
    if (!std::filesystem::is_directory(base, ec) || ::access(base.c_str(), W_OK) != 0) {
        base = std::filesystem::temp_directory_path();
    }
    std::string pattern = (base / "varnu-fuzz-settings-XXXXXX").string();
    if (!::mkdtemp(pattern.data())) {
        std::abort();
    }
    return pattern;
}

const std::filesystem::path& folder() {
    static const auto path = makeFolder();
    static const struct Cleanup {
        ~Cleanup() {
            std::error_code ec;
            std::filesystem::remove_all(path, ec);
        }
    } cleanup;
    return path;
}

struct Settings {
    std::int64_t step;
    bool showHUD;
    bool hideMonitorOSD;
    std::string language;
    std::optional<std::string> selectedUID;
    std::int64_t otherVolume;
    friend bool operator==(const Settings&, const Settings&) = default;
};

std::int64_t storedVolume(UserDefaults& defaults, const std::string& uid) {
    const auto stored = defaults.object(volumeKey(uid));
    return stored ? integerValue(*stored).value_or(kDefaultVolume) : kDefaultVolume;
}

Settings read(const std::shared_ptr<JsonUserDefaults>& defaults) {
    SettingsModel model(defaults);
    return {model.step(),
            model.showHUD(),
            model.hideMonitorOSD(),
            model.language(),
            defaults->string(kSelectedDeviceUIDKey),
            storedVolume(*defaults, kOtherOutput)};
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto file = folder() / "defaults.json";
    std::ofstream(file, std::ios::binary | std::ios::trunc)
        .write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));

    Settings before{};
    std::int64_t level = 0;
    {
        auto defaults = std::make_shared<JsonUserDefaults>(file, nullptr);
        before = read(defaults);
        // Every key reads as something, whatever its type.
        for (auto key :
             {kSelectedDeviceUIDKey, kStepKey, kShowHUDKey, kHideMonitorOSDKey, kLanguageKey}) {
            defaults->object(key);
        }
        const auto state = applyKey(kKeyTypeSoundUp, before.step,
                                    VolumeState{storedVolume(*defaults, kFuzzedOutput), false});
        level = state.level;
        if (level > kMaximumLevel) {
            std::abort();
        }
        defaults->setInteger(volumeKey(kFuzzedOutput), level);
        if (!defaults->flush()) {
            std::abort();
        }
    }
    auto again = std::make_shared<JsonUserDefaults>(file, nullptr);
    if (read(again) != before || storedVolume(*again, kFuzzedOutput) != level) {
        std::abort();
    }
    // Files moved aside would pile up, one more per corrupt input.
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(folder(), ec)) {
        std::filesystem::remove(entry.path(), ec);
    }
    return 0;
}
