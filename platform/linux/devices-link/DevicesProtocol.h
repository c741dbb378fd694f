#pragma once

// The words Varnu and its device service (varnu-devices) say to each other over the service's
// Unix socket (SOCK_SEQPACKET: one message per packet, never split or merged).
// Implements: the message kinds in families (the connection itself, volume keys, displays and
// their DDC/CI), each of one fixed size, written and parsed byte by byte in little-endian
// order, text zero-padded to its field; a parse accepts only a message of its own size whose
// every field holds one of its values, so that any other packet ends the connection it came on.
// Does not implement: sockets (DevicesConnection, the service's server), what either side does
// with a message, which DDC/CI transfers the service performs. A volume key travels as which of
// the three keys, what it did and the four modifiers: the words cannot carry any other key.

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <variant>
#include <vector>

namespace varnu::linux_backend::devices {

// A Hello is the same in every version, so that a service can say which it speaks.
constexpr std::uint16_t kProtocolVersion = 3;
constexpr std::uint32_t kHelloMagic = 0x444E5256; // "VRND"
// No message is longer; a longer packet ends the connection.
constexpr std::size_t kLargestMessage = 80;
constexpr const char* kServiceSocketPath = "/run/varnu/devices.socket";

enum class Family : std::uint8_t { Connection = 0x0, Keys = 0x1, Displays = 0x2 };

enum class MessageKind : std::uint8_t {
    Hello = 0x01,    // client: the first word, with the protocol version
    Welcome = 0x02,  // service: served from now on, in this version
    Refused = 0x03,  // service: why not; the connection ends
    Standing = 0x04, // service: whether this client's keys are being caught now
    TapWanted = 0x10,
    Question = 0x11, // service: a volume key pressed; keep it?
    Answer = 0x12,
    Notice = 0x13,         // service: a repeat or release of a key the client kept
    TapSwitchedOff = 0x14, // service: keys pass without asking until the tap is wanted again
    DisplaysWanted = 0x20, // client: the display list now and after each change
    DisplayEntry = 0x21,   // service: one display of a list
    DdcWrite = 0x22,       // client: bytes for a listed display's DDC/CI
    DdcRead = 0x23,        // client: a reply from a listed display's DDC/CI
    DdcResult = 0x24,      // service: how a write or read went, and the bytes read
};

constexpr Family familyOf(MessageKind kind) {
    return static_cast<Family>(static_cast<std::uint8_t>(kind) >> 4);
}

enum class VolumeKey : std::uint8_t { Up = 1, Down = 2, Mute = 3 };
enum class KeyAction : std::uint8_t { Release = 0, Press = 1, Repeat = 2 };

// The modifiers held on any keyboard when the key went.
constexpr std::uint8_t kShiftHeld = 0x01;
constexpr std::uint8_t kControlHeld = 0x02;
constexpr std::uint8_t kAltHeld = 0x04;
constexpr std::uint8_t kSuperHeld = 0x08;

struct KeyStroke {
    VolumeKey key = VolumeKey::Up;
    KeyAction action = KeyAction::Press;
    std::uint8_t modifiers = 0;
    friend bool operator==(const KeyStroke&, const KeyStroke&) = default;
};

enum class RefusalReason : std::uint8_t {
    NotAtSeat = 1,          // the peer's user has no session on the service's seat
    NoLoginManager = 2,     // without logind nobody can be told apart: the service serves no one
    UnsupportedVersion = 3, // the Hello's version is not this service's
    TooManyClients = 4,
};

enum class ClientStanding : std::uint8_t {
    Served = 1,          // the keyboards are held for this client and it is asked
    SessionInactive = 2, // its session is not the one in front of the seat
    OtherClientServed = 3,
    TapNotWanted = 4,
    NotAnswering = 5, // a question went unanswered; any word from it takes the keys back
};

enum class SwitchOffCause : std::uint8_t { Timeout = 1, UserInput = 2 };

struct Hello {
    std::uint16_t version = kProtocolVersion;
    friend bool operator==(const Hello&, const Hello&) = default;
};
struct Welcome {
    std::uint16_t version = kProtocolVersion;
    friend bool operator==(const Welcome&, const Welcome&) = default;
};
struct Refused {
    RefusalReason reason = RefusalReason::NotAtSeat;
    friend bool operator==(const Refused&, const Refused&) = default;
};
struct Standing {
    ClientStanding standing = ClientStanding::TapNotWanted;
    // The process the keyboards are held for, when it is a program of this client's user (0
    // when none is): any of them may ask for the keys, and the first one that asked gets them.
    std::uint32_t servedProcess = 0;
    friend bool operator==(const Standing&, const Standing&) = default;
};
struct TapWanted {
    bool wanted = false;
    friend bool operator==(const TapWanted&, const TapWanted&) = default;
};
// The longest time a question can give for its answer.
constexpr std::uint16_t kLongestAnswerWithin = 0xFFFF;

struct Question {
    std::uint32_t id = 0;
    KeyStroke stroke;
    // Milliseconds from the sending until the key is passed on without the answer.
    std::uint16_t answerWithinMs = 250;
    friend bool operator==(const Question&, const Question&) = default;
};
struct Answer {
    std::uint32_t id = 0;
    bool keep = false;
    friend bool operator==(const Answer&, const Answer&) = default;
};
struct Notice {
    KeyStroke stroke;
    friend bool operator==(const Notice&, const Notice&) = default;
};
struct TapSwitchedOff {
    SwitchOffCause cause = SwitchOffCause::Timeout;
    friend bool operator==(const TapSwitchedOff&, const TapSwitchedOff&) = default;
};

// Sizes of the display family's fields. A product name is at most an EDID descriptor's 13
// characters; an identity is the connector's name and the EDID's hash.
constexpr std::size_t kProductNameField = 13;
constexpr std::size_t kIdentityField = 48;
constexpr std::size_t kDdcBytesField = 11;
// The largest errno a result carries.
constexpr std::uint32_t kLargestStatus = 4095;

struct DisplaysWanted {
    friend bool operator==(const DisplaysWanted&, const DisplaysWanted&) = default;
};
// A list is `count` entries of one generation, index 0 first; an empty list is one entry of
// count 0. A display is named by its list's generation and its index in it.
struct DisplayEntry {
    std::uint32_t generation = 0;
    std::uint8_t index = 0;
    std::uint8_t count = 0;
    std::string productName; // at most kProductNameField bytes, no NUL
    std::string identity;    // at most kIdentityField bytes, no NUL
    std::uint16_t bus = 0;   // N of /dev/i2c-N, for people to name it by
    friend bool operator==(const DisplayEntry&, const DisplayEntry&) = default;
};
struct DisplayToken {
    std::uint32_t generation = 0;
    std::uint8_t index = 0;
    friend bool operator==(const DisplayToken&, const DisplayToken&) = default;
};
struct DdcWrite {
    std::uint32_t id = 0;
    DisplayToken display;
    std::uint8_t chipAddress = 0;
    std::uint8_t dataAddress = 0;
    std::vector<std::uint8_t> bytes; // at most kDdcBytesField
    friend bool operator==(const DdcWrite&, const DdcWrite&) = default;
};
struct DdcRead {
    std::uint32_t id = 0;
    DisplayToken display;
    std::uint8_t chipAddress = 0;
    std::uint8_t dataAddress = 0;
    std::uint8_t length = 0; // at most kDdcBytesField
    friend bool operator==(const DdcRead&, const DdcRead&) = default;
};
struct DdcResult {
    std::uint32_t id = 0;
    std::uint32_t status = 0;        // 0, or the errno of the failure or refusal
    std::vector<std::uint8_t> bytes; // a read's, at most kDdcBytesField
    friend bool operator==(const DdcResult&, const DdcResult&) = default;
};

using ClientMessage = std::variant<Hello, TapWanted, Answer, DisplaysWanted, DdcWrite, DdcRead>;
using ServiceMessage = std::variant<Welcome, Refused, Standing, Question, Notice, TapSwitchedOff,
                                    DisplayEntry, DdcResult>;

// One message as it goes on the wire.
struct Packet {
    std::array<std::uint8_t, kLargestMessage> bytes{};
    std::size_t size = 0;
    std::span<const std::uint8_t> view() const { return {bytes.data(), size}; }
};

Packet encode(const ClientMessage& message);
Packet encode(const ServiceMessage& message);
MessageKind kindOf(const ClientMessage& message);
MessageKind kindOf(const ServiceMessage& message);

// Nothing unless the packet is exactly one well-formed message of that side.
std::optional<ClientMessage> parseClientMessage(std::span<const std::uint8_t> packet);
std::optional<ServiceMessage> parseServiceMessage(std::span<const std::uint8_t> packet);

} // namespace varnu::linux_backend::devices
