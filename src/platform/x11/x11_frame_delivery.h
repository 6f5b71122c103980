#pragma once

// How the X11 capture service hands frames over.
// - clientPixels: every frame's pixels are read into this process (shared memory), scaled to
//   the stream's size; for consumers that work on pixels.
// - serverSurfaces: frames stay on the server (SurfaceFrame, the window's named pixmap at its
//   own size); a consumer that draws with the server composites and scales them there, so
//   mirroring moves no pixels through this process. Pixels are still read when asked for.

namespace tovalo::x11 {

enum class FrameDelivery { clientPixels, serverSurfaces };

}  // namespace tovalo::x11
