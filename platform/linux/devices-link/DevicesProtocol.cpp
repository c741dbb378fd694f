#include "platform/linux/devices-link/DevicesProtocol.h"

#include <algorithm>

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
    // Up to the field's size or the first NUL, then zeros to the field's end.
    Writer& text(const std::string& text, std::size_t field) {
        std::size_t used = 0;
        for (; used < field && used < text.size() && text[used] != '\0'; ++used) {
            byte(static_cast<std::uint8_t>(text[used]));
        }
        return zeros(field - used);
    }
    // The count, the bytes (at most the field's size) and zeros to the field's end.
    Writer& blob(const std::vector<std::uint8_t>& bytes, std::size_t field) {
        auto used = std::min(bytes.size(), field);
        byte(static_cast<std::uint8_t>(used));
        for (std::size_t index = 0; index < used; ++index) {
            byte(bytes[index]);
        }
        return zeros(field - used);
    }
    Writer& token(const DisplayToken& display) {
        return u32(display.generation).byte(display.index);
    }
    Packet done() const { return packet_; }

private:
    Writer& zeros(std::size_t count) {
        for (std::size_t index = 0; index < count; ++index) {
            byte(0);
        }
        return *this;
    }

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
    // Nothing but zeros after the first NUL.
    std::string text(std::size_t field) {
        std::string text;
        bool ended = false;
        for (std::size_t index = 0; index < field; ++index) {
            auto value = byte();
            ended = ended || value == 0;
            ok_ = ok_ && (!ended || value == 0);
            if (!ended) {
                text += static_cast<char>(value);
            }
        }
        return text;
    }
    std::vector<std::uint8_t> blob(std::size_t field) {
        auto used = byte();
        ok_ = ok_ && used <= field;
        std::vector<std::uint8_t> bytes;
        for (std::size_t index = 0; index < field; ++index) {
            auto value = byte();
            if (index < used) {
                bytes.push_back(value);
            } else {
                ok_ = ok_ && value == 0;
            }
        }
        return bytes;
    }
    DisplayToken token() {
        DisplayToken display;
        display.generation = u32();
        display.index = byte();
        return display;
    }
    void require(bool condition) { ok_ = ok_ && condition; }

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
    Packet operator()(const DisplaysWanted&) const {
        return Writer(MessageKind::DisplaysWanted).done();
    }
    Packet operator()(const DdcWrite& write) const {
        return Writer(MessageKind::DdcWrite)
            .u32(write.id)
            .token(write.display)
            .byte(write.chipAddress)
            .byte(write.dataAddress)
            .blob(write.bytes, kDdcBytesField)
            .done();
    }
    Packet operator()(const DdcRead& read) const {
        return Writer(MessageKind::DdcRead)
            .u32(read.id)
            .token(read.display)
            .byte(read.chipAddress)
            .byte(read.dataAddress)
            .byte(read.length)
            .done();
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
        return Writer(MessageKind::Standing)
            .code(standing.standing)
            .u32(standing.servedProcess)
            .done();
    }
    Packet operator()(const Question& question) const {
        return Writer(MessageKind::Question)
            .u32(question.id)
            .stroke(question.stroke)
            .u16(question.answerWithinMs)
            .done();
    }
    Packet operator()(const Notice& notice) const {
        return Writer(MessageKind::Notice).stroke(notice.stroke).done();
    }
    Packet operator()(const TapSwitchedOff& off) const {
        return Writer(MessageKind::TapSwitchedOff).code(off.cause).done();
    }
    Packet operator()(const DisplayEntry& entry) const {
        return Writer(MessageKind::DisplayEntry)
            .u32(entry.generation)
            .byte(entry.index)
            .byte(entry.count)
            .text(entry.productName, kProductNameField)
            .text(entry.identity, kIdentityField)
            .u16(entry.bus)
            .done();
    }
    Packet operator()(const DdcResult& result) const {
        return Writer(MessageKind::DdcResult)
            .u32(result.id)
            .u32(result.status)
            .blob(result.bytes, kDdcBytesField)
            .done();
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
    case MessageKind::DisplaysWanted:
        return whole<ClientMessage>(reader, DisplaysWanted{});
    case MessageKind::DdcWrite: {
        DdcWrite write;
        write.id = reader.u32();
        write.display = reader.token();
        write.chipAddress = reader.byte();
        write.dataAddress = reader.byte();
        write.bytes = reader.blob(kDdcBytesField);
        return whole<ClientMessage>(reader, write);
    }
    case MessageKind::DdcRead: {
        DdcRead read;
        read.id = reader.u32();
        read.display = reader.token();
        read.chipAddress = reader.byte();
        read.dataAddress = reader.byte();
        read.length = reader.byte();
        reader.require(read.length <= kDdcBytesField);
        return whole<ClientMessage>(reader, read);
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
        standing.servedProcess = reader.u32();
        return whole<ServiceMessage>(reader, standing);
    }
    case MessageKind::Question: {
        Question question;
        question.id = reader.u32();
        question.stroke = reader.stroke();
        question.answerWithinMs = reader.u16();
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
    case MessageKind::DisplayEntry: {
        DisplayEntry entry;
        entry.generation = reader.u32();
        entry.index = reader.byte();
        entry.count = reader.byte();
        reader.require(entry.index < entry.count || entry.index == 0);
        entry.productName = reader.text(kProductNameField);
        entry.identity = reader.text(kIdentityField);
        entry.bus = reader.u16();
        return whole<ServiceMessage>(reader, entry);
    }
    case MessageKind::DdcResult: {
        DdcResult result;
        result.id = reader.u32();
        result.status = reader.u32();
        reader.require(result.status <= kLargestStatus);
        result.bytes = reader.blob(kDdcBytesField);
        return whole<ServiceMessage>(reader, result);
    }
    default:
        return std::nullopt;
    }
}

} // namespace varnu::linux_backend::devices
