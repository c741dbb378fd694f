#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <utility>

namespace varnu {

// A notification without payload. Subscriptions end when their handle is destroyed.
class ChangePublisher {
public:
    class Subscription {
    public:
        Subscription() = default;
        Subscription(Subscription&& other) noexcept
            : handlers_(std::exchange(other.handlers_, {}))
            , key_(other.key_) {}
        Subscription& operator=(Subscription&& other) noexcept {
            if (this != &other) {
                reset();
                handlers_ = std::exchange(other.handlers_, {});
                key_ = other.key_;
            }
            return *this;
        }
        ~Subscription() { reset(); }

        void reset() {
            if (auto handlers = handlers_.lock()) {
                handlers->erase(key_);
            }
            handlers_.reset();
        }

    private:
        friend class ChangePublisher;
        using Handlers = std::map<std::uint64_t, std::function<void()>>;
        Subscription(std::weak_ptr<Handlers> handlers, std::uint64_t key)
            : handlers_(std::move(handlers))
            , key_(key) {}
        std::weak_ptr<Handlers> handlers_;
        std::uint64_t key_ = 0;
    };

    [[nodiscard]] Subscription subscribe(std::function<void()> handler) {
        auto key = nextKey_++;
        handlers_->emplace(key, std::move(handler));
        return Subscription(handlers_, key);
    }

    void send() const {
        // A handler may subscribe or unsubscribe while it runs.
        auto snapshot = *handlers_;
        for (const auto& [key, handler] : snapshot) {
            handler();
        }
    }

private:
    std::shared_ptr<Subscription::Handlers> handlers_ = std::make_shared<Subscription::Handlers>();
    std::uint64_t nextKey_ = 0;
};

} // namespace varnu
