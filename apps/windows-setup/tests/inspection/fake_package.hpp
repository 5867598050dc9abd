#pragma once

// A package given by the test: rows per query text, and conditions judged by a function of the
// properties set so far. Every query and property change is logged in order.

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "inspection/package_queries.hpp"

namespace mirel::testing {

using Properties = std::map<std::string, std::string, std::less<>>;
using ConditionJudge = std::function<ConditionResult(std::string_view condition, const Properties& properties)>;

struct FakePackageState {
    std::map<std::string, Result<std::vector<std::string>>, std::less<>> answers;
    std::vector<std::string> log;  // "query: ...", "open", "set NAME=VALUE", "evaluate ..."
    Properties properties;
    ConditionJudge judge = [](std::string_view, const Properties&) { return ConditionResult::Error; };
    bool open_fails = false;
    std::string failing_property;  // set_property of this name fails
};

class FakeOpenedPackage final : public OpenedPackage {
public:
    explicit FakeOpenedPackage(FakePackageState& state) : state_(state) {}
    Status set_property(std::string_view name, std::string_view value) override {
        state_.log.push_back("set " + std::string(name) + "=" + std::string(value));
        if (name == state_.failing_property) return fail(ErrorCode::MsiLaunchProperties);
        state_.properties[std::string(name)] = std::string(value);
        return {};
    }
    ConditionResult evaluate_condition(std::string_view condition) override {
        state_.log.push_back("evaluate " + std::string(condition));
        return state_.judge(condition, state_.properties);
    }

private:
    FakePackageState& state_;
};

class FakePackage final : public PackageQueries {
public:
    FakePackageState& state() const { return state_; }

    void answer(std::string_view query, std::vector<std::string> rows) {
        state_.answers.insert_or_assign(std::string(query), std::move(rows));
    }
    void answer_error(std::string_view query, ErrorCode code) {
        state_.answers.insert_or_assign(std::string(query), fail(code));
    }

    Result<std::vector<std::string>> query_column(std::string_view, std::string_view query) const override {
        state_.log.push_back("query: " + std::string(query));
        const auto found = state_.answers.find(query);
        // A query the test did not foresee behaves like one on a table the package lacks.
        if (found == state_.answers.end()) return fail(ErrorCode::MsiView);
        return found->second;
    }
    Result<std::unique_ptr<OpenedPackage>> open_package(std::string_view) const override {
        state_.log.push_back("open");
        if (state_.open_fails) return fail(ErrorCode::MsiPackageOpen);
        return std::make_unique<FakeOpenedPackage>(state_);
    }

private:
    mutable FakePackageState state_;
};

}  // namespace mirel::testing
