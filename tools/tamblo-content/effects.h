#pragma once
// The crane's six sound effects, made from nothing but arithmetic: motors
// from harmonic series, knocks and clacks from struck resonators, all at the
// table rate and reproducible to the sample.

#include <string>

#include "tools/tamblo-content/audio.h"

namespace tamblo::content_tool {

// "trolley" (sideways travel), "winch" (cable up or down), "knock" (hollow
// wooden knock), "grip" (metal jaws closing), "snap" (a block seating) and
// "building" (hammering over a small machine).
bool IsRecipe(const std::string& name);
std::string RecipeNames();

// The raw effect, before levelling; empty for an unknown recipe.
TSound SynthesizeEffect(const std::string& recipe);

}  // namespace tamblo::content_tool
