// The management options: the first argument names one operation.
#pragma once

#include <string>

class ServiceController;

// The operation the first argument names, compared whole and case-sensitively.
// Returns null for any other text: such a run performs nothing.
using CommandOperation = int (*)(ServiceController& controller);
CommandOperation FindCommand(const std::wstring& firstArgument);
