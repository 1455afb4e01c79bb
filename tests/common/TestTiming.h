#pragma once

// How long a test lets the program run on before it checks that something did NOT happen (no late
// message, no second report). Positive checks never use it: they wait for their signal or condition.
constexpr int kSettleMs = 300;
