#include "settings/SettingsView.h"

#include "platform/Image.h"
#include "settings/Lang.h"

#include <charconv>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace varnu {

namespace {

constexpr double kWidth = 460;
constexpr double kHeight = 600;
constexpr double kIconSize = 56;
constexpr double kHeaderSpacing = 14;
constexpr double kTitleSpacing = 2;
constexpr EdgeInsets kHeaderPadding{.top = 18, .leading = 20, .bottom = 4, .trailing = 20};

constexpr const char* kInfoSymbol = "slider.horizontal.3";
constexpr const char* kActiveSymbol = "checkmark.circle.fill";
constexpr const char* kMissingSymbol = "exclamationmark.triangle.fill";

struct StepChoice {
    std::int64_t step;
    const char* english;
    const char* german;
};
constexpr StepChoice kStepChoices[] = {
    {2, "Fine (2%)", "Fein (2 %)"},
    {6, "Normal (6%)", "Normal (6 %)"},
    {10, "Coarse (10%)", "Grob (10 %)"},
};

struct LanguageChoice {
    const char* tag;
    const char* english;
    const char* german;
};
constexpr LanguageChoice kLanguageChoices[] = {
    {"auto", "Automatic (system language)", "Automatisch (Systemsprache)"},
    {"de", "Deutsch", "Deutsch"},
    {"en", "English", "English"},
};

ViewNode makeNode(ViewKind kind, std::string id) {
    ViewNode node;
    node.kind = kind;
    node.id = std::move(id);
    return node;
}

ViewNode makeText(std::string id, std::string text, TextStyle style, TextColor color) {
    ViewNode node = makeNode(ViewKind::Text, std::move(id));
    node.text = std::move(text);
    node.style = style;
    node.color = color;
    return node;
}

ViewNode makeLabel(std::string id, std::string symbol, std::string text, TextStyle style,
                   TextColor color) {
    ViewNode node = makeText(std::move(id), std::move(text), style, color);
    node.kind = ViewKind::Label;
    node.symbol = std::move(symbol);
    return node;
}

ViewNode makeToggle(std::string id, std::string title, bool isOn,
                    std::function<void(bool)> onToggle) {
    ViewNode node = makeNode(ViewKind::Toggle, std::move(id));
    node.text = std::move(title);
    node.isOn = isOn;
    node.onToggle = std::move(onToggle);
    return node;
}

// A picker whose marked entry is the one carrying the value, if any does.
ViewNode makePicker(std::string id, std::string title, std::vector<PickerEntry> entries,
                    const std::string& value, std::function<void(const std::string&)> onPick) {
    ViewNode node = makeNode(ViewKind::Picker, std::move(id));
    node.text = std::move(title);
    for (const auto& entry : entries) {
        if (entry.tag == value) {
            node.selectedTag = entry.tag;
            break;
        }
    }
    node.entries = std::move(entries);
    node.onPick = std::move(onPick);
    return node;
}

std::optional<std::int64_t> parseStep(const std::string& tag) {
    std::int64_t step = 0;
    const auto [end, error] = std::from_chars(tag.data(), tag.data() + tag.size(), step);
    if (error != std::errc() || end != tag.data() + tag.size()) {
        return std::nullopt;
    }
    return step;
}

} // namespace

std::shared_ptr<SettingsView> SettingsView::create(std::shared_ptr<SettingsModel> model,
                                                   std::shared_ptr<UserDefaults> defaults,
                                                   std::shared_ptr<PreferredLanguages> languages,
                                                   std::shared_ptr<MainQueue> mainQueue) {
    return std::shared_ptr<SettingsView>(new SettingsView(
        std::move(model), std::move(defaults), std::move(languages), std::move(mainQueue)));
}

SettingsView::SettingsView(std::shared_ptr<SettingsModel> model,
                           std::shared_ptr<UserDefaults> defaults,
                           std::shared_ptr<PreferredLanguages> languages,
                           std::shared_ptr<MainQueue> mainQueue)
    : model_(std::move(model))
    , defaults_(std::move(defaults))
    , languages_(std::move(languages))
    , mainQueue_(std::move(mainQueue)) {}

void SettingsView::setInvalidationHandler(std::function<void()> handler) {
    invalidationHandler_ = std::move(handler);
    if (!invalidationHandler_) {
        subscription_.reset();
        return;
    }
    std::weak_ptr<SettingsView> weak = weak_from_this();
    subscription_ = model_->objectWillChange.subscribe([weak] {
        if (auto view = weak.lock()) {
            view->modelWillChange();
        }
    });
}

void SettingsView::modelWillChange() {
    // The model announces a change before it stores the value, so look only on a later turn.
    if (invalidationPending_) {
        return;
    }
    invalidationPending_ = true;
    std::weak_ptr<SettingsView> weak = weak_from_this();
    mainQueue_->async([weak] {
        auto view = weak.lock();
        if (!view) {
            return;
        }
        view->invalidationPending_ = false;
        if (auto handler = view->invalidationHandler_) {
            handler();
        }
    });
}

ViewNode SettingsView::body() {
    const bool german = Lang::isGerman(*defaults_, *languages_);
    auto text = [german](const char* english, const char* germanText) {
        return std::string(german ? germanText : english);
    };
    const SettingsModel& model = *model_;
    std::weak_ptr<SettingsModel> weakModel = model_;

    ViewNode root = makeNode(ViewKind::VStack, "root");
    root.spacing = 0;
    root.alignment = HorizontalAlignment::Center;
    root.width = kWidth;
    root.height = kHeight;

    ViewNode header = makeNode(ViewKind::HStack, "header");
    header.spacing = kHeaderSpacing;
    header.padding = kHeaderPadding;
    ViewNode icon = makeNode(ViewKind::Image, "header.icon");
    icon.symbol = kApplicationIconSymbol;
    icon.width = kIconSize;
    icon.height = kIconSize;
    ViewNode titles = makeNode(ViewKind::VStack, "header.titles");
    titles.alignment = HorizontalAlignment::Leading;
    titles.spacing = kTitleSpacing;
    ViewNode title = makeText("header.title", "Varnu", TextStyle::Title2, TextColor::Primary);
    title.bold = true;
    titles.children.push_back(std::move(title));
    titles.children.push_back(
        makeText("header.subtitle",
                 text("Volume keys for every speaker – including your monitor.",
                      "Lautstärketasten für jeden Lautsprecher – auch im Monitor."),
                 TextStyle::Callout, TextColor::Secondary));
    header.children.push_back(std::move(icon));
    header.children.push_back(std::move(titles));
    header.children.push_back(makeNode(ViewKind::Spacer, "header.spacer"));

    ViewNode form = makeNode(ViewKind::Form, "form");

    ViewNode output = makeNode(ViewKind::Section, "output");
    output.text = text("Output device", "Ausgabegerät");
    std::vector<PickerEntry> devices;
    for (const auto& device : model.devices()) {
        devices.push_back(PickerEntry{device.uid, device.name});
    }
    output.children.push_back(
        makePicker("output.picker", text("Play sound through", "Ton ausgeben über"),
                   std::move(devices), model.selectedUID(), [weakModel](const std::string& uid) {
                       if (auto model = weakModel.lock(); model && model->onSelect) {
                           model->onSelect(uid);
                       }
                   }));
    output.children.push_back(makeLabel("output.info", kInfoSymbol, model.controlInfo(),
                                        TextStyle::Callout, TextColor::Secondary));

    ViewNode general = makeNode(ViewKind::Section, "general");
    general.text = text("General", "Allgemein");
    general.children.push_back(
        makeToggle("general.autostart",
                   text("Start automatically at login", "Beim Anmelden automatisch starten"),
                   model.autostart(), [weakModel](bool isOn) {
                       if (auto model = weakModel.lock(); model && model->onAutostart) {
                           model->onAutostart(isOn);
                       }
                   }));
    general.children.push_back(
        makeToggle("general.showHUD", text("Show volume overlay", "Lautstärke-Anzeige einblenden"),
                   model.showHUD(), [weakModel](bool isOn) {
                       if (auto model = weakModel.lock()) {
                           model->setShowHUD(isOn);
                       }
                   }));
    general.children.push_back(
        makeToggle("general.hideMonitorOSD",
                   text("Hide the monitor's own overlay", "Anzeige des Monitors ausblenden"),
                   model.hideMonitorOSD(), [weakModel](bool isOn) {
                       if (auto model = weakModel.lock()) {
                           model->setHideMonitorOSD(isOn);
                       }
                   }));
    if (!model.osdInfo().empty()) {
        general.children.push_back(
            makeText("general.osdInfo", model.osdInfo(), TextStyle::Callout, TextColor::Secondary));
    }
    std::vector<PickerEntry> steps;
    for (const auto& choice : kStepChoices) {
        steps.push_back(
            PickerEntry{std::to_string(choice.step), text(choice.english, choice.german)});
    }
    general.children.push_back(makePicker(
        "general.step", text("Step per key press", "Schrittweite pro Tastendruck"),
        std::move(steps), std::to_string(model.step()), [weakModel](const std::string& tag) {
            auto model = weakModel.lock();
            if (auto step = parseStep(tag); model && step) {
                model->setStep(*step);
            }
        }));
    std::vector<PickerEntry> languages;
    for (const auto& choice : kLanguageChoices) {
        languages.push_back(PickerEntry{choice.tag, text(choice.english, choice.german)});
    }
    general.children.push_back(makePicker("general.language", text("Language", "Sprache"),
                                          std::move(languages), model.language(),
                                          [weakModel](const std::string& tag) {
                                              if (auto model = weakModel.lock()) {
                                                  model->setLanguage(tag);
                                              }
                                          }));

    ViewNode keys = makeNode(ViewKind::Section, "keys");
    keys.text = text("Key control", "Tasten-Steuerung");
    if (model.accessibilityOK()) {
        keys.children.push_back(
            makeLabel("keys.active", kActiveSymbol,
                      text("Volume keys are active", "Lautstärketasten sind aktiv"),
                      TextStyle::Body, TextColor::Green));
        // What else gives the user the devices the keys go through.
        if (const auto& notice = model.accessAdvice()) {
            keys.children.push_back(makeText("keys.shared",
                                             german ? notice->german : notice->english,
                                             TextStyle::Callout, TextColor::Secondary));
        }
    } else {
        // The platform's advice says what is missing there; the button then leads to its help.
        const auto& advice = model.accessAdvice();
        keys.children.push_back(makeLabel(
            "keys.missing", kMissingSymbol,
            advice ? text("Volume keys cannot be caught",
                          "Lautstärketasten können nicht abgefangen werden")
                   : text("Accessibility access is missing", "Zugriff auf Bedienungshilfen fehlt"),
            TextStyle::Body, TextColor::Orange));
        keys.children.push_back(makeText(
            "keys.explanation",
            advice ? (german ? advice->german : advice->english)
                   : text("Without this permission the app cannot intercept the volume keys.",
                          "Ohne diese Freigabe kann die App die Lautstärketasten nicht abfangen."),
            TextStyle::Callout, TextColor::Secondary));
        ViewNode open = makeNode(ViewKind::Button, "keys.open");
        open.text = advice ? text("More help…", "Mehr Hilfe …")
                           : text("Open System Settings…", "Systemeinstellungen öffnen …");
        open.onPress = [weakModel] {
            if (auto model = weakModel.lock(); model && model->onOpenAccessibility) {
                model->onOpenAccessibility();
            }
        };
        keys.children.push_back(std::move(open));
    }

    form.children.push_back(std::move(output));
    form.children.push_back(std::move(general));
    form.children.push_back(std::move(keys));
    root.children.push_back(std::move(header));
    root.children.push_back(std::move(form));
    return root;
}

} // namespace varnu
