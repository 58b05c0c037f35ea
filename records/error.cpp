// SPDX-License-Identifier: GPL-3.0-or-later
#include "records/error.h"

#include <utility>

namespace records {

namespace {

constexpr std::pair<Problem, const char *> ProblemNames[] = {
    {Problem::System, "System"},
    {Problem::Runtime, "Runtime"},
    {Problem::Damaged, "DamagedRecord"},
    {Problem::Newer, "NewerRecord"},
    {Problem::NoDataFolder, "NoDataFolder"},
    {Problem::NotOwn, "NotOwnRecords"},
    {Problem::NotRecorded, "NotRecorded"},
    {Problem::NotNewest, "NotNewest"},
    {Problem::KeptMissing, "KeptMissing"},
    {Problem::GameMoved, "GameMoved"},
    {Problem::Ambiguous, "Ambiguous"},
    {Problem::NoSuchInstall, "NoSuchInstall"},
};

constexpr std::pair<Step, const char *> StepNames[] = {
    {Step::ReadRecord, "ReadRecord"},
    {Step::WriteRecord, "WriteRecord"},
    {Step::Keep, "Keep"},
    {Step::Lock, "Lock"},
    {Step::FindGame, "FindGame"},
    {Step::Restore, "Restore"},
    {Step::Remove, "Remove"},
    {Step::Forget, "Forget"},
};

template <typename Enum, std::size_t N>
QLatin1StringView name(const std::pair<Enum, const char *> (&names)[N], Enum value)
{
    for (const auto &[known, spelt] : names) {
        if (known == value)
            return QLatin1StringView(spelt);
    }
    return {};
}

template <typename Enum, std::size_t N>
std::optional<Enum> named(const std::pair<Enum, const char *> (&names)[N], QStringView name)
{
    for (const auto &[known, spelt] : names) {
        if (name == QLatin1StringView(spelt))
            return known;
    }
    return std::nullopt;
}

} // namespace

QLatin1StringView nameOf(Problem problem)
{
    return name(ProblemNames, problem);
}

QLatin1StringView nameOf(Step step)
{
    return name(StepNames, step);
}

std::optional<Problem> problemNamed(QStringView name)
{
    return named(ProblemNames, name);
}

std::optional<Step> stepNamed(QStringView name)
{
    return named(StepNames, name);
}

void raise(Problem problem, Step step, const QString &path, const QString &detail, int code)
{
    throw RecordsError({problem, step, code, path, detail, std::nullopt});
}

Error systemError(int code, Step step, const QString &path)
{
    return {Problem::System, step, code, path, {}, std::nullopt};
}

void raiseSystem(int code, Step step, const QString &path)
{
    throw RecordsError(systemError(code, step, path));
}

} // namespace records
