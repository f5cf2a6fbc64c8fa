#include "patching/write_behind.h"

#include <system_error>
#include <utility>

WriteBehind::WriteBehind(std::size_t maxSteps, std::size_t maxBytes, Runner run)
    : maxSteps_(maxSteps > 0 ? maxSteps : 1), maxBytes_(maxBytes), run_(std::move(run)) {
    try {
        worker_ = std::thread([this] { loop(); });
    } catch (const std::system_error&) {
    }
}

WriteBehind::~WriteBehind() { finish(); }

// A step larger than the whole allowance is let in once nothing else waits.
bool WriteBehind::full(std::size_t incoming) const {
    if (pending_.empty()) return false;
    return pending_.size() >= maxSteps_ || pendingBytes_ + incoming > maxBytes_;
}

void WriteBehind::queue(FileStep step) {
    if (!worker_.joinable()) {
        run_(step);
        return;
    }
    const std::size_t incoming = weight(step);
    std::unique_lock<std::mutex> lock(mutex_);
    while (full(incoming)) {
        queuerWaiting_ = true;
        room_.wait(lock);
        queuerWaiting_ = false;
    }
    pending_.push_back(std::move(step));
    pendingBytes_ += incoming;
    if (workerWaiting_) ready_.notify_one();
}

void WriteBehind::finish() {
    if (!worker_.joinable()) return;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        closing_ = true;
        ready_.notify_one();
    }
    worker_.join();
}

void WriteBehind::loop() {
    for (;;) {
        FileStep step;
        {
            std::unique_lock<std::mutex> lock(mutex_);
            while (pending_.empty() && !closing_) {
                workerWaiting_ = true;
                ready_.wait(lock);
                workerWaiting_ = false;
            }
            if (pending_.empty()) return;
            step = std::move(pending_.front());
            pending_.pop_front();
            pendingBytes_ -= weight(step);
            if (queuerWaiting_ && pending_.size() <= maxSteps_ / 2 && pendingBytes_ <= maxBytes_ / 2)
                room_.notify_one();
        }
        run_(step);
    }
}
