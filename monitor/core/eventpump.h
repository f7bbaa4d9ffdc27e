// The one place where a running procedure lets pending window events through.
//
// Production code calls DoEvents() wherever the program yields (Pause, the
// polling loop, long transfers). Tests replace the pump with a scripted one,
// so that "after each yield" rules can be driven step by step.
#pragma once

#include <functional>
#include <vector>

class EventPump {
public:
    virtual ~EventPump() = default;
    virtual void yield() = 0;
};

// Processes pending events through the installed pump and counts the yield.
void DoEvents();

// Number of yields since start or since the last reset.
long yieldCount();
void resetYieldCount();

// Installs a pump (not owned); nullptr restores the production pump, which
// processes the application's pending events.
void installEventPump(EventPump *pump);

// A pump for tests: runs the action scheduled for yield k (1-based, counted
// from installation) and, unless told otherwise, processes pending events.
class ScriptedPump : public EventPump {
public:
    explicit ScriptedPump(bool processRealEvents = true);
    ~ScriptedPump() override;
    void at(long k, std::function<void()> action);
    void every(std::function<void(long k)> action);
    long yields() const { return count_; }
    void yield() override;

private:
    bool real_;
    long count_ = 0;
    std::function<void(long)> every_;
    std::vector<std::pair<long, std::function<void()>>> actions_;
};
