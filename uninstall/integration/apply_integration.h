#pragma once
// Writes the chosen integration into the registry and the shell, in one fixed
// order: App Paths, the shell extension, the associations, the classes, the
// shortcuts.
#include <cstddef>

struct IntegrationOptions;

// False when the first App Paths write or the first class write was refused
// with access denied: the sequence stops there and what was written stays.
// Also false, after the whole sequence, when an extension chosen was left
// with its owner because that owner could not be kept. groupPath receives
// the program-group folder. programPath names the program whose folder's
// files the integration names; null is this program.
bool ApplyIntegration(const IntegrationOptions& options, wchar_t* groupPath,
                      size_t groupPathCapacity, const wchar_t* programPath = nullptr);

// What OK in the settings dialog does, in this order: stores the options,
// applies them (a refused write leaves what was done, and setup goes on),
// writes the uninstall entry unless an installer package drives the run, and
// gives ".ace" back.
void AcceptIntegrationChoice(const IntegrationOptions& options);
