#include "receive/receiver.h"

#include <openssl/sha.h>

#include "store/signature.h"

namespace ulr {

Reception ReceiveReport(std::string_view body, const std::string& remote, std::int64_t nowMs, Committer& committer) {
  NewReport report;
  std::string why;
  const FormVerdict verdict = ParseReportForm(body, &report.form, &why);
  if (verdict == FormVerdict::kLogTooLarge) return {413, why};
  if (verdict != FormVerdict::kOk) return {400, why};

  unsigned char digest[SHA256_DIGEST_LENGTH];
  SHA256(reinterpret_cast<const unsigned char*>(body.data()), body.size(), digest);
  report.digest.assign(reinterpret_cast<const char*>(digest), sizeof digest);
  report.signatureId = SignatureId(SignatureKey(report.form));
  report.version = ClientVersion(report.form.ver);
  report.remote = remote;
  report.receivedMs = nowMs;
  switch (committer.Submit(report, &why)) {
    case Committer::Outcome::kStored: return {200, "stored"};
    case Committer::Outcome::kAlreadyStored: return {200, "stored before"};
    case Committer::Outcome::kFailed: break;
  }
  return {503, "the report could not be stored: " + why};
}

}  // namespace ulr
