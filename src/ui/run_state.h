// What a window is doing: idle, or which of its runs is going on. The windows set it when a
// run starts and ends and ask it, not a button's caption, whether a click means Stop.
#pragma once

namespace fennick::ui {

enum class RunState { idle, scanning, recovering, wiping, cleaning };

}  // namespace fennick::ui
