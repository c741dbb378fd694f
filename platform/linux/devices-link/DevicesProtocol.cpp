#include "platform/linux/devices-link/DevicesProtocol.h"

namespace varnu::linux_backend::devices {
namespace {

constexpr std::uint8_t kFalse = 0;
constexpr std::uint8_t kTrue = 1;
constexpr std::uint8_t kModifierBits = kShiftHeld | kControlHeld | kAltHeld | kSuperHeld;

class Writer {
public:
    explicit Writer(MessageKind kind) { byte(static_cast<std::uint8_t>(kind)); }
    Writer& byte(std::uint8_t value) {
        packet_.bytes[packet_.size++] = value;
        return *this;
    }
    template <typename Enum>
    Writer& code(Enum value) {
        return byte(static_cast<std::uint8_t>(value));
    }
    Writer& flag(bool value) { return byte(value ? kTrue : kFalse); }
    Writer& u16(std::uint16_t value) {
        return byte(static_cast<std::uint8_t>(value)).byte(static_cast<std::uint8_t>(value >> 8));
    }
    Writer& u32(std::uint32_t value) {
        return u16(static_cast<std::uint16_t>(value)).u16(static_cast<std::uint16_t>(value >> 16));
    }
    Writer& stroke(const KeyStroke& stroke) {
        return code(stroke.key).code(stroke.action).byte(stroke.modifiers);
    }
    Packet done() const { return packet_; }

private:
    Packet packet_;
};

// Reads the fields after the kind; every read past the end, or a value outside its field's,
// spoils the whole message.
class Reader {
public:
    explicit Reader(std::span<const std::uint8_t> packet)
        : packet_(packet) {}

    // Whole and used to its last byte.
    bool complete() const { return ok_ && offset_ == packet_.size(); }

    std::uint8_t byte() {
        if (offset_ >= packet_.size()) {
            ok_ = false;
            return 0;
        }
        return packet_[offset_++];
    }
    std::uint16_t u16() {
        auto low = byte();
        return static_cast<std::uint16_t>(low | (byte() << 8));
    }
    std::uint32_t u32() {
        std::uint32_t low = u16();
        return low | (static_cast<std::uint32_t>(u16()) << 16);
    }
    bool flag() {
        auto value = byte();
        ok_ = ok_ && (value == kFalse || value == kTrue);
        return value == kTrue;
    }
    // A value from first to last.
    template <typename Enum>
    Enum code(Enum first, Enum last) {
        auto value = byte();
        ok_ = ok_ && value >= static_cast<std::uint8_t>(first) &&
              value <= static_cast<std::uint8_t>(last);
        return static_cast<Enum>(value);
    }
    KeyStroke stroke() {
        KeyStroke stroke;
        stroke.key = code(VolumeKey::Up, VolumeKey::Mute);
        stroke.action = code(KeyAction::Release, KeyAction::Repeat);
        stroke.modifiers = byte();
        ok_ = ok_ && (stroke.modifiers & ~kModifierBits) == 0;
        return stroke;
    }

private:
    std::span<const std::uint8_t> packet_;
    std::size_t offset_ = 1;
    bool ok_ = true;
};

template <typename Message>
std::optional<Message> whole(const Reader& reader, Message message) {
    if (!reader.complete()) {
        return std::nullopt;
    }
    return message;
}

struct ClientEncoder {
    Packet operator()(const Hello& hello) const {
        return Writer(MessageKind::Hello).u32(kHelloMagic).u16(hello.version).done();
    }
    Packet operator()(const TapWanted& tap) const {
        return Writer(MessageKind::TapWanted).flag(tap.wanted).done();
    }
    Packet operator()(const Answer& answer) const {
        return Writer(MessageKind::Answer).u32(answer.id).flag(answer.keep).done();
    }
};

struct ServiceEncoder {
    Packet operator()(const Welcome& welcome) const {
        return Writer(MessageKind::Welcome).u16(welcome.version).done();
    }
    Packet operator()(const Refused& refused) const {
        return Writer(MessageKind::Refused).code(refused.reason).done();
    }
    Packet operator()(const Standing& standing) const {
        return Writer(MessageKind::Standing).code(standing.standing).done();
    }
    Packet operator()(const Question& question) const {
        return Writer(MessageKind::Question).u32(question.id).stroke(question.stroke).done();
    }
    Packet operator()(const Notice& notice) const {
        return Writer(MessageKind::Notice).stroke(notice.stroke).done();
    }
    Packet operator()(const TapSwitchedOff& off) const {
        return Writer(MessageKind::TapSwitchedOff).code(off.cause).done();
    }
};

std::optional<MessageKind> kindOf(std::span<const std::uint8_t> packet) {
    if (packet.empty() || packet.size() > kLargestMessage) {
        return std::nullopt;
    }
    return static_cast<MessageKind>(packet[0]);
}

} // namespace

Packet encode(const ClientMessage& message) {
    return std::visit(ClientEncoder{}, message);
}

Packet encode(const ServiceMessage& message) {
    return std::visit(ServiceEncoder{}, message);
}

MessageKind kindOf(const ClientMessage& message) {
    return static_cast<MessageKind>(encode(message).bytes[0]);
}

MessageKind kindOf(const ServiceMessage& message) {
    return static_cast<MessageKind>(encode(message).bytes[0]);
}

std::optional<ClientMessage> parseClientMessage(std::span<const std::uint8_t> packet) {
    auto kind = kindOf(packet);
    if (!kind) {
        return std::nullopt;
    }
    Reader reader(packet);
    switch (*kind) {
    case MessageKind::Hello: {
        bool ours = reader.u32() == kHelloMagic;
        Hello hello{reader.u16()};
        return ours ? whole<ClientMessage>(reader, hello) : std::nullopt;
    }
    case MessageKind::TapWanted: {
        TapWanted tap{reader.flag()};
        return whole<ClientMessage>(reader, tap);
    }
    case MessageKind::Answer: {
        Answer answer;
        answer.id = reader.u32();
        answer.keep = reader.flag();
        return whole<ClientMessage>(reader, answer);
    }
    default:
        return std::nullopt;
    }
}

std::optional<ServiceMessage> parseServiceMessage(std::span<const std::uint8_t> packet) {
    auto kind = kindOf(packet);
    if (!kind) {
        return std::nullopt;
    }
    Reader reader(packet);
    switch (*kind) {
    case MessageKind::Welcome: {
        Welcome welcome{reader.u16()};
        return whole<ServiceMessage>(reader, welcome);
    }
    case MessageKind::Refused: {
        Refused refused{reader.code(RefusalReason::NotAtSeat, RefusalReason::TooManyClients)};
        return whole<ServiceMessage>(reader, refused);
    }
    case MessageKind::Standing: {
        Standing standing{reader.code(ClientStanding::Served, ClientStanding::NotAnswering)};
        return whole<ServiceMessage>(reader, standing);
    }
    case MessageKind::Question: {
        Question question;
        question.id = reader.u32();
        question.stroke = reader.stroke();
        return whole<ServiceMessage>(reader, question);
    }
    case MessageKind::Notice: {
        Notice notice{reader.stroke()};
        return whole<ServiceMessage>(reader, notice);
    }
    case MessageKind::TapSwitchedOff: {
        TapSwitchedOff off{reader.code(SwitchOffCause::Timeout, SwitchOffCause::UserInput)};
        return whole<ServiceMessage>(reader, off);
    }
    default:
        return std::nullopt;
    }
}

} // namespace varnu::linux_backend::devices
