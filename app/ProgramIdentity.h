#pragma once

// The program's name and version: what the framework keys its instance on, what
// --version prints, and what the support log's readers see.
inline constexpr const char* kProgramName = "TRBKelo7UpdateProgram";
inline constexpr const char* kProgramVersion = "1.0.0";
