// A deterministic generator of large, valid, balanced 835 interchanges for
// benchmarks: one ISA/GS envelope around as many transactions as the size
// asks for.
#pragma once

#include <cstdint>
#include <string>

namespace zarvi_bench {

enum class Version { V5010, V4010 };

// An interchange of about target_bytes bytes (at least one transaction with
// one claim; it stops at the first claim that reaches the target).
// Amounts balance: BPR02 = sum of CLP04 - sum of PLB amounts; per claim
// CLP03 - CLP04 = claim and line CAS amounts; per line SVC02 - SVC03 = its CAS.
std::string generate_835(uint64_t target_bytes, Version version);

}  // namespace zarvi_bench
