#pragma once

// Where things lie in a package file (see package.h); shared by its reader, writer and
// verifier.

namespace update {
namespace layout {

constexpr int kSignatureOffset = 0;  // 64 bytes, in the free block
constexpr int kHashOffset = 128;     // SHA-1 of the bytes from kPropertiesOffset on
constexpr int kHashSize = 20;
constexpr int kPropertiesOffset = 148;
constexpr int kSizeOffset = 153;
constexpr int kStreamOffset = 157;

}  // namespace layout
}  // namespace update
