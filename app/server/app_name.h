// SPDX-License-Identifier: Apache-2.0
// The application's name: its service account, PAM service, files and messages.
#pragma once

inline constexpr char kAppName[] = "strobane-printer-app";
