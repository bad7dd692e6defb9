#pragma once
// One input of the sequence fuzzer: a fresh engine with small caps and the
// reference model side by side, every step on both, the checks after every
// step, and the engine's end. A failed check prints the step and what
// differs, and aborts, so that libFuzzer keeps the input.
#include <vector>

#include "fuzz/sequence_script.h"

namespace mirrow::fuzz {

void run_sequence(const std::vector<Step>& steps);

// How much the model saw: whether the inputs reach the caps, and how many
// of them, of their steps and of their drains the model still checked.
void print_sequence_figures();

}  // namespace mirrow::fuzz
