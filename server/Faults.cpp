#include "server/Faults.h"

#include <algorithm>
#include <charconv>
#include <fstream>

namespace miravo::server {

namespace {

bool toInt(std::string_view text, int& out) {
    auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), out);
    return ec == std::errc() && ptr == text.data() + text.size();
}

std::string_view trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t' || s.front() == '\r'))
        s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r'))
        s.remove_suffix(1);
    return s;
}

const char* kindName(FaultKind kind) {
    switch (kind) {
        case FaultKind::Delay:
            return "delay";
        case FaultKind::Close:
            return "close";
        case FaultKind::Empty:
            return "empty";
        case FaultKind::Truncate:
            return "truncate";
        case FaultKind::Error:
            return "error";
        case FaultKind::Refuse:
            return "refuse";
    }
    return "?";
}

}  // namespace

std::optional<FaultRule> parseFaultRule(std::string_view spec, std::string& error) {
    FaultRule rule;
    spec = trim(spec);
    const std::size_t comma = spec.find(',');
    std::string_view head = spec.substr(0, comma);
    std::string_view options = comma == std::string_view::npos ? "" : spec.substr(comma + 1);
    const std::size_t colon = head.find(':');
    const std::string_view kind = head.substr(0, colon);
    const std::string_view value = colon == std::string_view::npos ? "" : head.substr(colon + 1);
    struct Kind {
        const char* name;
        FaultKind kind;
        bool needsValue;
    };
    static const Kind kinds[] = {
        {"delay", FaultKind::Delay, true},  {"close", FaultKind::Close, false},
        {"empty", FaultKind::Empty, false}, {"truncate", FaultKind::Truncate, false},
        {"error", FaultKind::Error, true},  {"refuse", FaultKind::Refuse, true}};
    const Kind* found = nullptr;
    for (const Kind& k : kinds) {
        if (kind == k.name)
            found = &k;
    }
    if (!found) {
        error = "unknown fault \"" + std::string(kind) + "\"";
        return std::nullopt;
    }
    rule.kind = found->kind;
    if (found->needsValue) {
        if (!toInt(value, rule.value) || rule.value < 0 ||
            (rule.kind == FaultKind::Delay && rule.value > 600000) ||
            (rule.kind == FaultKind::Refuse && (rule.value < 1 || rule.value > 3600)) ||
            (rule.kind == FaultKind::Error && (rule.value < 1 || rule.value > 9999))) {
            error = "fault \"" + std::string(kind) + "\" needs a sensible number";
            return std::nullopt;
        }
    } else if (colon != std::string_view::npos) {
        error = "fault \"" + std::string(kind) + "\" takes no value";
        return std::nullopt;
    }
    while (!options.empty()) {
        const std::size_t next = options.find(',');
        const std::string_view option = trim(options.substr(0, next));
        options = next == std::string_view::npos ? "" : options.substr(next + 1);
        const std::size_t eq = option.find('=');
        const std::string_view key = option.substr(0, eq);
        const std::string_view v = eq == std::string_view::npos ? "" : option.substr(eq + 1);
        if (key == "action" && !v.empty()) {
            rule.action = std::string(v);
        } else if (key == "after" && toInt(v, rule.after) && rule.after >= 0) {
        } else if (key == "count" && toInt(v, rule.count) && rule.count >= 1) {
        } else {
            error = "bad fault option \"" + std::string(option) + "\"";
            return std::nullopt;
        }
    }
    return rule;
}

std::string describe(const FaultRule& rule) {
    std::string text = kindName(rule.kind);
    if (rule.kind == FaultKind::Delay || rule.kind == FaultKind::Error ||
        rule.kind == FaultKind::Refuse)
        text += ":" + std::to_string(rule.value);
    if (!rule.action.empty())
        text += ",action=" + rule.action;
    if (rule.after)
        text += ",after=" + std::to_string(rule.after);
    if (rule.count > 0)
        text += ",count=" + std::to_string(rule.count);
    return text;
}

std::string FaultDecision::text() const {
    std::string t;
    if (delayMs)
        t = "delay:" + std::to_string(delayMs);
    if (outcome) {
        if (!t.empty())
            t += "+";
        t += kindName(*outcome);
        if (*outcome == FaultKind::Error)
            t += ":" + std::to_string(errorCode);
    }
    return t.empty() ? "-" : t;
}

bool FaultPlan::add(std::string_view spec, std::string& error) {
    auto rule = parseFaultRule(spec, error);
    if (!rule)
        return false;
    std::lock_guard lock(mutex_);
    rules_.push_back(*rule);
    state_.emplace_back();
    return true;
}

bool FaultPlan::load(const std::filesystem::path& file, std::string& error) {
    std::ifstream in(file);
    if (!in) {
        error = "cannot read " + file.string();
        return false;
    }
    std::string line;
    int number = 0;
    while (std::getline(in, line)) {
        ++number;
        const std::string_view text = trim(line);
        if (text.empty() || text.front() == '#')
            continue;
        if (!add(text, error)) {
            error = file.string() + ":" + std::to_string(number) + ": " + error;
            return false;
        }
    }
    return true;
}

FaultDecision FaultPlan::decide(std::string_view action) {
    FaultDecision decision;
    std::lock_guard lock(mutex_);
    for (std::size_t i = 0; i < rules_.size(); ++i) {
        const FaultRule& rule = rules_[i];
        if (rule.kind == FaultKind::Refuse || (!rule.action.empty() && rule.action != action))
            continue;
        State& s = state_[i];
        if (++s.seen <= rule.after || (rule.count > 0 && s.applied >= rule.count))
            continue;
        if (rule.kind == FaultKind::Delay) {
            ++s.applied;
            decision.delayMs += rule.value;
        } else if (!decision.outcome) {
            ++s.applied;
            decision.outcome = rule.kind;
            decision.errorCode = rule.value;
        }
    }
    return decision;
}

int FaultPlan::refuseAtStart() const {
    int seconds = 0;
    for (const FaultRule& rule : rules_) {
        if (rule.kind == FaultKind::Refuse && rule.after == 0)
            seconds = std::max(seconds, rule.value);
    }
    return seconds;
}

int FaultPlan::refuseAfter(std::string_view action) {
    std::lock_guard lock(mutex_);
    int seconds = 0;
    for (std::size_t i = 0; i < rules_.size(); ++i) {
        const FaultRule& rule = rules_[i];
        if (rule.kind != FaultKind::Refuse || rule.after == 0 ||
            (!rule.action.empty() && rule.action != action))
            continue;
        State& s = state_[i];
        if (++s.seen == rule.after && s.applied == 0) {
            s.applied = 1;
            seconds = std::max(seconds, rule.value);
        }
    }
    return seconds;
}

}  // namespace miravo::server
