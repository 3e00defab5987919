#pragma once

// The one guard at the entry of every handler: an error ends the handler where it happened and is
// reported; nothing escapes into the event loop.

#include "errorreporter.h"

#include <skypeerror.h>

#include <QString>

#include <exception>
#include <functional>

template <typename Fn> void guarded(ErrorReporter &reporter, Fn &&fn) noexcept
{
    try {
        try {
            std::invoke(std::forward<Fn>(fn));
        } catch (const SkypeError &error) {
            reporter.report(error.code(), error.text());
        } catch (const std::exception &error) {
            reporter.report(std::nullopt, QString::fromLocal8Bit(error.what()));
        } catch (...) {
            reporter.report(std::nullopt, QStringLiteral("Unknown error."));
        }
    } catch (...) {
        // The reporter itself failed (out of memory); there is nobody left to tell.
    }
}
