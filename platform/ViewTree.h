#pragma once

// A toolkit-neutral description of a window's content: a small declarative tree that the core
// builds anew from its model and a backend renders. Every node has an identity that stays the
// same from one build to the next, so that a backend can update its widgets in place.

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace varnu {

enum class ViewKind {
    VStack,
    HStack,
    Form,
    Section,
    Picker,
    Toggle,
    Label,
    Text,
    Button,
    Image,
    Spacer
};

enum class TextStyle { Body, Title2, Callout };
enum class TextColor { Primary, Secondary, Green, Orange };
enum class HorizontalAlignment { Leading, Center, Trailing };

struct EdgeInsets {
    double top = 0;
    double leading = 0;
    double bottom = 0;
    double trailing = 0;
    friend bool operator==(const EdgeInsets&, const EdgeInsets&) = default;
};

struct PickerEntry {
    std::string tag;   // what the picker reports when this entry is chosen
    std::string title; // what it shows
    friend bool operator==(const PickerEntry&, const PickerEntry&) = default;
};

struct ViewNode {
    ViewKind kind = ViewKind::VStack;
    std::string id;

    // Stacks: spacing between children and, for a vertical stack, their alignment.
    double spacing = 0;
    HorizontalAlignment alignment = HorizontalAlignment::Center;
    EdgeInsets padding;
    std::optional<double> width;  // a fixed frame, when set
    std::optional<double> height; // for a stack, the most it takes: it ends after its content

    // Section header; picker, toggle and button label; text and label content.
    std::string text;
    // Label symbol, or the image shown by an Image node.
    std::string symbol;
    TextStyle style = TextStyle::Body;
    TextColor color = TextColor::Primary;
    bool bold = false;

    // Picker: entries in order and the marked entry's tag (none marked when no entry carries it).
    std::vector<PickerEntry> entries;
    std::optional<std::string> selectedTag;
    std::function<void(const std::string& tag)> onPick;

    // Toggle.
    bool isOn = false;
    std::function<void(bool isOn)> onToggle;

    // Button.
    std::function<void()> onPress;

    std::vector<ViewNode> children;

    // The first node with this identity in the tree, depth first.
    const ViewNode* find(const std::string& nodeId) const {
        if (id == nodeId) {
            return this;
        }
        for (const auto& child : children) {
            if (const auto* found = child.find(nodeId)) {
                return found;
            }
        }
        return nullptr;
    }
};

// What a window shows: a tree built on demand, and a way to hear that it should be built again.
class ViewContent {
public:
    virtual ~ViewContent() = default;
    virtual ViewNode body() = 0;
    // The handler runs after each change of what body() would build. It replaces any earlier one.
    virtual void setInvalidationHandler(std::function<void()> handler) = 0;
};

} // namespace varnu
