#pragma once

// The kinds of sample a capture stream can hand to an output. Only screen samples carry
// pictures; a session that receives another kind ignores it.

namespace tovalo {

enum class StreamOutputType { screen, audio, microphone };

}  // namespace tovalo
