// Enabling and disabling the controls that lie inside a frame on a form, by their position.
#pragma once

class QWidget;

namespace tarnex::ui {

enum class FrameMode {
  WhollyInside,  // both corners of the control lie within the frame
  PartlyInside   // at least one corner does
};

// Gives every control of the frame's form that lies inside `frame` (by its screen rectangle,
// edges included) the enabled state `enable`; a plain panel also gets a black text colour when
// enabled and the shadow colour when disabled. Nothing happens when the frame does not sit
// directly on a form. Controls inside a composite control are left to it.
void EnableInFrame(QWidget& frame, FrameMode mode, bool enable);

}  // namespace tarnex::ui
