// The main window's controls: identifier, kind, template caption, whether the template shows
// them, position in dialog units, tooltip and font. Controls outside the 190 × 291 skin area
// exist and work but are never seen.
#pragma once

#include "skin/ControlTemplate.h"

const ControlTable& MainTemplate();
const ControlDef* FindControl(int id);
