#include "capture/stream_stop_diagnostics.h"

#include <algorithm>

namespace tovalo {

DebugLogProperties streamStopDiagnostics(const SCWindow& window,
                                         const StreamStopDiagnosticsSources& sources) {
    namespace Key = StreamStopDiagnosticsKey;
    DebugLogProperties diagnostics;
    diagnostics.emplace_back(Key::scwindowIsOnScreen, window.isOnScreen);
    diagnostics.emplace_back(Key::scwindowFrame, rectToString(window.frame));

    const auto bounds = sources.windowBounds ? sources.windowBounds(window.windowID) : std::nullopt;
    diagnostics.emplace_back(Key::cgwindowFrame,
                             bounds ? Value(rectToString(*bounds)) : Value(kDiagnosticsNil));

    auto info = sources.windowInfo ? sources.windowInfo(window.windowID) : std::nullopt;
    diagnostics.emplace_back(Key::cgwindowInfo,
                             info ? Value(std::move(*info)) : Value(kDiagnosticsNil));

    const auto content = sources.cachedContent ? sources.cachedContent() : std::nullopt;
    if (content) {
        const bool listed = std::any_of(
            content->windows.begin(), content->windows.end(),
            [&window](const SCWindow& cached) { return cached.windowID == window.windowID; });
        diagnostics.emplace_back(Key::inCachedContent, listed);
        diagnostics.emplace_back(Key::currentFrame, rectToString(window.frame));
    } else {
        diagnostics.emplace_back(Key::inCachedContent, kDiagnosticsNoCache);
    }
    return diagnostics;
}

}  // namespace tovalo
