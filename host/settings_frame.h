// The settings page in the platform's property frame: on the X display here, the system's frame
// on Windows.
#pragma once

#include "client/client.h"
#include "settings_command.h"

namespace velmora::host {

// Shows the effect's pages in the frame: renders it to options.screenshot, or lets the user edit
// and on OK saves to options.file (or prints the colour). Returns the exit code.
int RunFrame(client::EffectSource& source, IUnknown* effect, const SettingsOptions& options);

// After the frame: on OK saves the effect to options.file (or prints its colour); returns the
// exit code.
int FinishFrame(IUnknown* effect, const SettingsOptions& options, bool ok);

} // namespace velmora::host
