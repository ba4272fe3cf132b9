// Control and menu command identifiers shared by the shell and its front-ends.
#pragma once

namespace quillon::app {

// Controls of the main window.
inline constexpr int kComList = 1000;
inline constexpr int kConnectButton = 1001;
inline constexpr int kDeviceList = 1002;
inline constexpr int kDetectButton = 1003;
inline constexpr int kEraseButton = 1004;
inline constexpr int kCheckButton = 1005;
inline constexpr int kWriteButton = 1006;
inline constexpr int kReadButton = 1007;
inline constexpr int kStatusText = 1008;
inline constexpr int kProgressBar = 1009;

// Menu commands.
inline constexpr int kMenuUpdate = 1010;
inline constexpr int kMenuCalibrate = 1011;  // grayed, no command behind it
inline constexpr int kMenuExit = 1012;
inline constexpr int kMenuWideVdd = 1013;  // grayed, no effect
inline constexpr int kMenuEraseBeforeWriting = 1014;
inline constexpr int kMenuVerifyAfterWriting = 1015;
inline constexpr int kMenuEnhancedIcsp = 1016;
inline constexpr int kMenuWebHome = 1017;
inline constexpr int kMenuAbout = 1018;

// Notification codes of WM_COMMAND that the dispatch tests.
inline constexpr int kButtonClicked = 0;    // BN_CLICKED
inline constexpr int kSelectionChange = 1;  // CBN_SELCHANGE

}  // namespace quillon::app
