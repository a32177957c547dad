// The component's identity as the host sees it.
#pragma once

namespace corvina {

inline constexpr char kComponentName[] = "Pellwick";
inline constexpr char kComponentVersion[] = "111029";
inline constexpr char kAboutMessage[] = "\"Sony Media Library Earth\" is necessary for this component.";

// The file name the component must be installed under: the module's own name
// on this system (the installation check compares it byte for byte).
inline constexpr char kModuleFileName[] = "corvina.so";

inline constexpr char kFileTypeName[] = "OMA/3GP Files";
inline constexpr char kFileTypeMask[] = "*.OMA;*.OMG;*.KDR;*.3GP";

}  // namespace corvina
