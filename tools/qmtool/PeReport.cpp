// Reading a PE file's Authenticode signature, every byte bounds-checked:
//
//  1. the PE headers give the file range of the certificate table (data
//     directory 4) and the offset of the checksum;
//  2. its WIN_CERTIFICATE holds a PKCS#7 SignedData (DER) whose content is
//     the digest of the file and whose certificates include the signer's,
//     found by the issuer and serial number of the signer info;
//  3. the file is hashed as Authenticode does (all bytes but the checksum,
//     the table's directory entry and the table itself) and compared.
#include "tools/qmtool/PeReport.h"

#include <cstring>
#include <vector>

#include "tools/qmtool/Digest.h"

namespace qm {

namespace {

// A bounds-checked view of bytes: every read past the end gives 0.
struct Bytes {
  const std::uint8_t* data = nullptr;
  std::size_t size = 0;

  bool Has(std::size_t at, std::size_t count) const { return at <= size && count <= size - at; }
  std::uint32_t U16(std::size_t at) const { return Has(at, 2) ? data[at] | (data[at + 1] << 8) : 0; }
  std::uint32_t U32(std::size_t at) const { return Has(at, 4) ? U16(at) | (U16(at + 2) << 16) : 0; }
};

// One DER element: its tag and its contents.
struct Der {
  std::uint8_t tag = 0;
  Bytes contents;
  Bytes whole;  // tag, length and contents
  bool valid = false;
};

Der ReadDer(Bytes in, std::size_t at) {
  Der element;
  if (!in.Has(at, 2)) return element;
  const std::size_t start = at;
  element.tag = in.data[at++];
  std::size_t length = in.data[at++];
  if (length & 0x80) {
    const std::size_t octets = length & 0x7F;
    if (octets == 0 || octets > 4 || !in.Has(at, octets)) return element;  // indefinite or too long
    length = 0;
    for (std::size_t i = 0; i < octets; ++i) length = (length << 8) | in.data[at++];
  }
  if (!in.Has(at, length)) return element;
  element.contents = {in.data + at, length};
  element.whole = {in.data + start, at + length - start};
  element.valid = true;
  return element;
}

// The elements inside a constructed element, in order.
std::vector<Der> Children(const Der& parent) {
  std::vector<Der> children;
  for (std::size_t at = 0; parent.valid && at < parent.contents.size;) {
    const Der child = ReadDer(parent.contents, at);
    if (!child.valid) break;
    children.push_back(child);
    at += child.whole.size;
  }
  return children;
}

bool Same(const Bytes& a, const Bytes& b) { return a.size == b.size && std::memcmp(a.data, b.data, a.size) == 0; }

bool IsOid(const Der& element, const std::vector<std::uint8_t>& oid) {
  return element.tag == 0x06 && Same(element.contents, {oid.data(), oid.size()});
}

const std::vector<std::uint8_t> kOidSignedData = {0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x07, 0x02};
const std::vector<std::uint8_t> kOidSha1 = {0x2B, 0x0E, 0x03, 0x02, 0x1A};
const std::vector<std::uint8_t> kOidSha256 = {0x60, 0x86, 0x48, 0x01, 0x65, 0x03, 0x04, 0x02, 0x01};
const std::vector<std::uint8_t> kOidCommonName = {0x55, 0x04, 0x03};

// The first common name in a Name (SEQUENCE OF SET OF AttributeTypeAndValue).
std::string CommonName(const Der& name) {
  for (const Der& set : Children(name)) {
    for (const Der& attribute : Children(set)) {
      const std::vector<Der> parts = Children(attribute);
      if (parts.size() == 2 && IsOid(parts[0], kOidCommonName)) {
        return std::string(reinterpret_cast<const char*>(parts[1].contents.data), parts[1].contents.size);
      }
    }
  }
  return std::string();
}

// What the signature states: the digest and its kind, and the signer.
struct Signature {
  bool readable = false;
  DigestKind kind = DigestKind::kSha256;
  bool knownKind = false;
  Bytes digest;
  std::string signer;
};

// The digest inside SpcIndirectDataContent: SEQUENCE { data, DigestInfo }.
void ReadStatedDigest(const Der& content, Signature* signature) {
  const std::vector<Der> indirect = Children(content);
  if (indirect.size() < 2) return;
  const std::vector<Der> digestInfo = Children(indirect[1]);
  if (digestInfo.size() < 2 || digestInfo[1].tag != 0x04) return;
  const std::vector<Der> algorithm = Children(digestInfo[0]);
  if (algorithm.empty()) return;
  signature->knownKind = IsOid(algorithm[0], kOidSha1) || IsOid(algorithm[0], kOidSha256);
  signature->kind = IsOid(algorithm[0], kOidSha1) ? DigestKind::kSha1 : DigestKind::kSha256;
  signature->digest = digestInfo[1].contents;
}

// The signer's common name: the certificate whose issuer and serial number
// the first signer info names.
std::string SignerName(const Der& certificates, const Der& signerInfos) {
  const std::vector<Der> signers = Children(signerInfos);
  if (signers.empty()) return std::string();
  const std::vector<Der> signer = Children(signers[0]);
  if (signer.size() < 2) return std::string();
  const std::vector<Der> issuerAndSerial = Children(signer[1]);
  if (issuerAndSerial.size() < 2) return std::string();
  for (const Der& certificate : Children(certificates)) {
    const std::vector<Der> parts = Children(certificate);
    if (parts.empty()) continue;
    std::vector<Der> tbs = Children(parts[0]);
    if (!tbs.empty() && tbs[0].tag == 0xA0) tbs.erase(tbs.begin());  // the explicit version
    if (tbs.size() >= 5 && Same(tbs[0].whole, issuerAndSerial[1].whole) &&
        Same(tbs[2].whole, issuerAndSerial[0].whole)) {
      return CommonName(tbs[4]);
    }
  }
  return std::string();
}

// ContentInfo { signedData, [0] SignedData { version, digestAlgorithms,
// encapContentInfo { type, [0] content }, [0] certificates, [1] crls,
// signerInfos } }.
Signature ReadSignature(Bytes pkcs7) {
  Signature signature;
  const std::vector<Der> contentInfo = Children(ReadDer(pkcs7, 0));
  if (contentInfo.size() < 2 || !IsOid(contentInfo[0], kOidSignedData)) return signature;
  const std::vector<Der> wrapped = Children(contentInfo[1]);
  if (wrapped.empty()) return signature;
  const std::vector<Der> signedData = Children(wrapped[0]);
  if (signedData.size() < 4) return signature;
  signature.readable = true;
  const std::vector<Der> encapsulated = Children(signedData[2]);
  if (encapsulated.size() >= 2) {
    const std::vector<Der> content = Children(encapsulated[1]);
    if (!content.empty()) ReadStatedDigest(content[0], &signature);
  }
  const Der* certificates = nullptr;
  for (std::size_t i = 3; i < signedData.size(); ++i) {
    if (signedData[i].tag == 0xA0) certificates = &signedData[i];
  }
  if (certificates != nullptr) signature.signer = SignerName(*certificates, signedData.back());
  return signature;
}

// The Authenticode digest: every byte before the certificate table but the
// checksum and the table's directory entry.
std::vector<std::uint8_t> FileDigest(Bytes file, DigestKind kind, std::size_t checksumAt, std::size_t entryAt,
                                     std::size_t tableAt) {
  Digest digest(kind);
  digest.Add(file.data, checksumAt);
  digest.Add(file.data + checksumAt + 4, entryAt - (checksumAt + 4));
  digest.Add(file.data + entryAt + 8, tableAt - (entryAt + 8));
  return digest.Finish();
}

}  // namespace

PeReport InspectPe(const std::uint8_t* data, std::size_t size) {
  PeReport report;
  const Bytes file{data, size};
  if (!file.Has(0, 0x40) || data[0] != 'M' || data[1] != 'Z') return report;
  const std::size_t pe = file.U32(0x3C);
  if (!file.Has(pe, 24) || std::memcmp(data + pe, "PE\0\0", 4) != 0) return report;
  const std::size_t optional = pe + 24;
  const std::size_t optionalSize = file.U16(pe + 20);
  const std::uint32_t magic = file.U16(optional);
  if ((magic != 0x10B && magic != 0x20B) || !file.Has(optional, optionalSize)) return report;
  report.isPe = true;

  const std::size_t directories = optional + (magic == 0x10B ? 96 : 112);
  const std::size_t directoryCount = file.U32(optional + (magic == 0x10B ? 92 : 108));
  const std::size_t entryAt = directories + 4 * 8;  // IMAGE_DIRECTORY_ENTRY_SECURITY
  if (directoryCount <= 4 || entryAt + 8 > optional + optionalSize) return report;
  const std::size_t tableAt = file.U32(entryAt);
  const std::size_t tableSize = file.U32(entryAt + 4);
  if (tableAt == 0 || tableSize == 0) return report;
  report.isSigned = true;
  // WIN_CERTIFICATE: length, revision, type 2 (PKCS#7 SignedData), then the data.
  const std::size_t length = file.U32(tableAt);
  if (tableAt < entryAt + 8 || !file.Has(tableAt, tableSize) || length < 8 || length > tableSize ||
      file.U16(tableAt + 6) != 2) {
    report.digest = PeReport::Match::kDiffers;  // the table lies elsewhere than it claims
    return report;
  }
  const Signature signature = ReadSignature({data + tableAt + 8, length - 8});
  report.signer = signature.signer;
  if (!signature.readable || !signature.knownKind) return report;
  const std::vector<std::uint8_t> actual = FileDigest(file, signature.kind, optional + 64, entryAt, tableAt);
  report.digest = Same({actual.data(), actual.size()}, signature.digest) ? PeReport::Match::kMatches
                                                                          : PeReport::Match::kDiffers;
  return report;
}

std::string DescribePe(const PeReport& report) {
  if (!report.isPe) return "not a PE executable";
  if (!report.isSigned) return "PE, unsigned";
  std::string text = "PE, signed";
  if (!report.signer.empty()) text += " by " + report.signer;
  if (report.digest == PeReport::Match::kDiffers) text += ", BUT ITS BYTES DO NOT MATCH THE SIGNATURE";
  if (report.digest == PeReport::Match::kNotChecked) text += " (digest not checked)";
  return text;
}

}  // namespace qm
