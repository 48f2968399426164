#pragma once

// A release as its publisher signed it. Plain C++ (no Qt), shared by the updater and the program.
//
// The information file names the release and binds every file to it:
//     #date=12/10/2026
//     #url1=https://example.org/lianbu/lianbu
//     #file1=<SHA-256, 64 lower-case hex digits> <size in bytes> <name to install>
//     #url2=...            #file2=...
// The name is written as in the file (GBK, blanks allowed) and may differ from the address.
// The whole file is signed with minisign; only prehashed signatures ("ED") are accepted.
//
// Releases are ordered by their date. The newest release ever installed in a folder is kept
// there (kNewestFile) and nothing older or equal is installed again; the program's own release is
// stamped into its executable by the build (releaseMarker), where the updater and the publisher's
// script read it.

#include "updater/Install.h"

#include <optional>
#include <string>
#include <vector>

namespace lianbu::updater {

inline constexpr const char *kNewestFile = "upgrade.uNEWEST";
// The signed information file and its signature, handed from the program to the updater.
inline constexpr const char *kSignedInfoFile = "upgrade.uINFO";
inline constexpr const char *kSignedInfoSignature = "upgrade.uINFO.minisig";
// What the build writes into the program: the prefix, "MM/DD/YYYY" and ";".
inline constexpr const char *kReleaseMarkerPrefix = "LIANBU-RELEASE=";

// "MM/DD/YYYY" (exactly) as the number YYYYMMDD; 0 when it is not a valid calendar date.
int releaseDay(const std::string &text);
// YYYYMMDD back as "MM/DD/YYYY"; empty for 0.
std::string releaseDayText(int day);

// The value of "#key=" as the information file's rules read it: markers in any letter case, the
// value up to the first byte below 32. Empty when missing.
std::string infoValue(const std::string &info, const std::string &key);

struct Release
{
    int day = 0;
    std::vector<ManifestEntry> files; // names in UTF-8, in the order of #url1= ... #urlN=
};

// The release the information file describes; nullopt with a reason when it lacks a valid date,
// lists an address without its file line (or the other way round), uses #url= or #url0=, or lists a
// name that cannot be installed or twice.
std::optional<Release> parseRelease(const std::string &info, std::string &reason);

// Checks a minisign signature file for data with the public key (its base64 line). Only prehashed
// signatures are accepted: a legacy one would let a signed hash pass for a file.
bool verifyPrehashedSignature(const std::string &data, const std::string &signatureFile,
                              const std::string &publicKeyLine, std::string &reason);

// The newest release recorded in folder (0 when none) and recording one (only ever rising).
int newestInstalled(const std::string &folder);
bool recordInstalled(const std::string &folder, int day);

// The release stamped into the program file at path; 0 when it holds no stamp.
int releaseOfProgram(const std::string &path);

} // namespace lianbu::updater
