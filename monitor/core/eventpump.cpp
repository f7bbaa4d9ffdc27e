#include "core/eventpump.h"

#include <QCoreApplication>
#include <vector>

namespace {
EventPump *g_pump = nullptr;
long g_yields = 0;
}  // namespace

void DoEvents() {
    ++g_yields;
    if (g_pump) g_pump->yield();
    else QCoreApplication::processEvents();
}

long yieldCount() { return g_yields; }
void resetYieldCount() { g_yields = 0; }
void installEventPump(EventPump *pump) { g_pump = pump; }

ScriptedPump::ScriptedPump(bool processRealEvents) : real_(processRealEvents) {}
ScriptedPump::~ScriptedPump() {
    if (g_pump == this) g_pump = nullptr;
}

void ScriptedPump::at(long k, std::function<void()> action) { actions_.emplace_back(k, std::move(action)); }
void ScriptedPump::every(std::function<void(long)> action) { every_ = std::move(action); }

void ScriptedPump::yield() {
    ++count_;
    if (real_) QCoreApplication::processEvents();
    if (every_) every_(count_);
    for (auto &[k, action] : actions_)
        if (k == count_ && action) {
            auto run = std::move(action);
            action = nullptr;
            run();
        }
}
