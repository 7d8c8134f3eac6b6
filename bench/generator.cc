#include "generator.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <string_view>

namespace zarvi_bench {

namespace {

// splitmix64: small, fast and the same on every platform.
class Rng {
 public:
  explicit Rng(uint64_t seed) : state_(seed) {}
  uint64_t next() {
    uint64_t z = (state_ += 0x9E3779B97F4A7C15ULL);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    return z ^ (z >> 31);
  }
  uint64_t below(uint64_t n) { return next() % n; }
  bool chance(unsigned percent) { return below(100) < percent; }
  template <class T, std::size_t N>
  const T& pick(const std::array<T, N>& items) {
    return items[below(N)];
  }

 private:
  uint64_t state_;
};

constexpr std::array<std::string_view, 8> kLastNames = {"SMITH", "JOHNSON", "WILLIAMS", "BROWN",
                                                        "JONES", "GARCIA", "MILLER", "DAVIS"};
constexpr std::array<std::string_view, 8> kFirstNames = {"JAMES", "MARY", "ROBERT", "PATRICIA",
                                                         "JOHN", "JENNIFER", "MICHAEL", "LINDA"};
constexpr std::array<std::string_view, 8> kProcedures = {"99213", "99214", "85025", "80053",
                                                         "36415", "93000", "71046", "97110"};
constexpr std::array<std::string_view, 4> kModifiers = {"25", "59", "GT", "TC"};

// An amount in cents as X12 writes a decimal: 150, 150.5, 150.25, -3.1.
std::string money(int64_t cents) {
  std::string out;
  if (cents < 0) {
    out += '-';
    cents = -cents;
  }
  out += std::to_string(cents / 100);
  const int64_t frac = cents % 100;
  if (frac != 0) {
    out += '.';
    out += static_cast<char>('0' + frac / 10);
    if (frac % 10 != 0) out += static_cast<char>('0' + frac % 10);
  }
  return out;
}

std::string padded(uint64_t value, int width) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%0*llu", width, static_cast<unsigned long long>(value));
  return buf;
}

// Segments written into one text, counted.
struct Buffer {
  std::string text;
  uint64_t segments = 0;

  void seg(const std::string& body) {
    text += body;
    text += "~\n";
    ++segments;
  }
  void append(const Buffer& other) {
    text += other.text;
    segments += other.segments;
  }
};

class Writer {
 public:
  Writer(uint64_t target, Version version) : target_(target), version_(version), rng_(835) {
    out_.text.reserve(target + 4096);
  }

  std::string run() {
    const bool v5010 = version_ == Version::V5010;
    out_.seg("ISA*00*          *00*          *ZZ*PAYERSENDER    *ZZ*PROVIDERRECV   *260105*1200*" +
             std::string(v5010 ? "^*00501" : "U*00401") + "*000000001*0*P*:");
    out_.seg("GS*HP*PAYERSENDER*PROVIDERRECV*20260105*1200*1*X*" +
             std::string(v5010 ? "005010X221A1" : "004010X091A1"));
    uint64_t transactions = 0;
    do {
      transaction(++transactions);
    } while (out_.text.size() < target_);
    out_.seg("GE*" + std::to_string(transactions) + "*1");
    out_.seg("IEA*1*000000001");
    return std::move(out_.text);
  }

 private:
  void transaction(uint64_t number) {
    // The payment amount is known only after the claims, so they are written
    // aside first.
    Buffer claims;
    int64_t paid_total = 0;
    claims.seg("LX*1");
    const uint64_t claims_wanted = 20 + rng_.below(200);
    for (uint64_t i = 0; i < claims_wanted; ++i) {
      paid_total += claim(claims, number, i);
      if (out_.text.size() + claims.text.size() >= target_) break;
    }
    int64_t plb_total = 0;
    if (rng_.chance(30) && paid_total > 10000) {
      // PLB amounts reduce the payment: a recovery is positive, interest negative.
      const int64_t recovery = static_cast<int64_t>(rng_.below(static_cast<uint64_t>(paid_total / 20)));
      const int64_t interest = static_cast<int64_t>(rng_.below(2000));
      plb_total = recovery - interest;
      claims.seg("PLB*1234567893*20261231*WO:RECOVERY" + std::to_string(number) + "*" +
                 money(recovery) + "*L6*" + money(-interest));
    }

    Buffer tx;
    const std::string control = padded(number, 4);
    const std::string date = "202601" + padded(1 + number % 28, 2);
    tx.seg("ST*835*" + control + (version_ == Version::V5010 ? "*005010X221A1" : ""));
    tx.seg("BPR*I*" + money(paid_total - plb_total) +
           "*C*ACH*CCP*01*011000015*DA*123456789*1512345678**01*021000021*DA*987654321*" + date);
    tx.seg("TRN*1*EFT" + padded(number, 9) + "*1512345678");
    tx.seg("REF*EV*PROVIDERRECV");
    tx.seg("DTM*405*" + date);
    tx.seg("N1*PR*ACME HEALTH PLAN");
    tx.seg("N3*100 MAIN STREET");
    tx.seg("N4*SPRINGFIELD*IL*62701");
    // The payer's contact: the claim office in 4010, technical contact in 5010.
    tx.seg(std::string("PER*") + (version_ == Version::V5010 ? "BL" : "CX") +
           "*CLAIMS DEPARTMENT*TE*8005551212");
    tx.seg("N1*PE*GOOD HEALTH CLINIC*XX*1234567893");
    tx.seg("N3*200 OAK AVENUE");
    tx.seg("N4*SPRINGFIELD*IL*62702");
    tx.seg("REF*TJ*371234567");
    tx.append(claims);
    tx.seg("SE*" + std::to_string(tx.segments + 1) + "*" + control);
    out_.append(tx);
  }

  // Writes one claim with its service lines into claims; returns CLP04 in cents.
  int64_t claim(Buffer& claims, uint64_t transaction, uint64_t index) {
    const bool denied = rng_.chance(5);
    const uint64_t lines = 1 + rng_.below(5);
    int64_t charge = 0;
    int64_t line_paid = 0;
    int64_t patient = 0;
    Buffer body;
    for (uint64_t l = 0; l < lines; ++l) {
      const int64_t line_charge = 2000 + static_cast<int64_t>(rng_.below(50000));
      const int64_t contractual =
          denied ? line_charge : line_charge * (10 + static_cast<int64_t>(rng_.below(40))) / 100;
      const int64_t responsibility =
          denied ? 0
                 : std::min<int64_t>(line_charge - contractual, static_cast<int64_t>(rng_.below(4000)));
      const int64_t paid = line_charge - contractual - responsibility;
      charge += line_charge;
      line_paid += paid;
      patient += responsibility;
      std::string code = "HC:";
      code += rng_.pick(kProcedures);
      if (rng_.chance(20)) {
        code += ':';
        code += rng_.pick(kModifiers);
      }
      body.seg("SVC*" + code + "*" + money(line_charge) + "*" + money(paid) + "**" +
               std::to_string(1 + rng_.below(3)));
      body.seg("DTM*472*202512" + padded(1 + rng_.below(28), 2));
      body.seg(std::string("CAS*CO*") + (denied ? "50" : "45") + "*" + money(contractual));
      if (responsibility > 0) {
        body.seg(std::string("CAS*PR*") + (rng_.chance(50) ? "1" : "2") + "*" + money(responsibility));
      }
      body.seg("REF*6R*" + std::to_string(transaction) + "-" + std::to_string(index) + "-" +
               std::to_string(l + 1));
      body.seg("AMT*B6*" + money(line_charge - contractual));
    }

    // A claim-level reduction (sequestration) taken from what the lines paid.
    const int64_t claim_cut = !denied && rng_.chance(25) ? line_paid * 2 / 100 : 0;
    const int64_t paid = line_paid - claim_cut;
    claims.seg("CLP*CLM" + std::to_string(transaction) + "X" + std::to_string(index) + "*" +
               (denied ? "4" : "1") + "*" + money(charge) + "*" + money(paid) + "*" +
               money(patient) + "*12*PCN" + padded(transaction * 1000 + index, 12) + "*11*1");
    if (claim_cut > 0) claims.seg("CAS*CO*253*" + money(claim_cut));
    claims.seg("NM1*QC*1*" + std::string(rng_.pick(kLastNames)) + "*" +
               std::string(rng_.pick(kFirstNames)) + "****MI*M" + padded(rng_.below(1000000000), 9));
    if (rng_.chance(40)) {
      claims.seg("NM1*82*1*" + std::string(rng_.pick(kLastNames)) + "*" +
                 std::string(rng_.pick(kFirstNames)) + "****XX*1" + padded(rng_.below(1000000000), 9));
    }
    const std::string service = "202512" + padded(1 + rng_.below(28), 2);
    claims.seg("DTM*232*" + service);
    claims.seg("DTM*233*" + service);
    claims.append(body);
    return paid;
  }

  uint64_t target_;
  Version version_;
  Rng rng_;
  Buffer out_;
};

}  // namespace

std::string generate_835(uint64_t target_bytes, Version version) {
  return Writer(target_bytes, version).run();
}

}  // namespace zarvi_bench
