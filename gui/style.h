// The windowed program's look: a light, flat, grey-and-white theme with
// rounded frames, a one-pixel frame border and a blue progress fill.
#pragma once

namespace quillmere {

// Gives the style of the current Dear ImGui context the window's theme: the
// library's light colour preset, then the window's own metrics and colours
// on top of it. Everything else keeps the preset's and the library's values.
// Requires a current context; calling it again gives the same style.
void ApplyStyle();

}  // namespace quillmere
