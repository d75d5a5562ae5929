// Every verb of velk-vcp-config, in the order --help lists them.
#pragma once

#include <span>

#include "verb.h"

// Returns the verbs of the tool; each group's file defines its own.
std::span<const Verb> Verbs();
