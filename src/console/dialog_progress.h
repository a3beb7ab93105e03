// Progress of the modeless dialogs: what a look at a shown dialog prints, and the last state of a
// progress phase that no look caught.
#pragma once
#include "console/dialog_model.h"

// Prints what changed in a shown modeless dialog since it was last looked at: its texts, the
// Cancel hint the first time, then its progress, or its title where it has no bar.
void look_at_modeless(ModelDialog& dialog);
// Called as a bar takes a new range, which starts a new phase of its dialog (the console hands it
// to the dialog model as it shows a dialog).
void progress_phase_ends(ModelDialog& dialog, const ModelControl& bar);
