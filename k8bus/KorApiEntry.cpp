// The shared library's own translation unit: everything it exports lives in the core
// (Kor8Api.h, Controls.h); this file only gives the library its version text.
namespace zs::k8bus {
extern const char* const kLibraryVersion;
const char* const kLibraryVersion = "KOR8_API 1.0";
} // namespace zs::k8bus
