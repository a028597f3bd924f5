// The dialog as it is laid out: positions and sizes in pixels of the client
// area at 96 dots per inch, font heights in pixels (character height), and
// the texts. The Qt and Win32 views build the same dialog from it.
#pragma once

namespace dov::form4 {

struct TRect {
  int Left, Top, Width, Height;
};

struct TFontSpec {
  const char16_t* Face;
  int Height;
  bool Bold;
};

inline constexpr const char16_t* kApplicationTitle = u"ROZ ERUVORU";
inline constexpr const char16_t* kCaption = u"Orvik Ruz ZID OROVIV V1.0.1";
inline constexpr int kClientWidth = 268;
inline constexpr int kClientHeight = 111;
inline constexpr TFontSpec kFont{u"Tahoma", 11, false};
// Faces close to Tahoma's widths, tried in order where Tahoma is missing.
inline constexpr const char16_t* kFallbackFaces[] = {u"Liberation Sans",
                                                     u"DejaVu Sans"};

inline constexpr TRect kProgressBar1{8, 8, 255, 17};

inline constexpr TRect kDeviceName{48, 31, 175, 31};
inline constexpr const char16_t* kDeviceNameText = u"Orvik Dora VIV Ver.A";
inline constexpr TFontSpec kDeviceNameFont{u"Tahoma", 19, false};

inline constexpr TRect kButton8{8, 71, 97, 34};
inline constexpr const char16_t* kButton8Caption = u"Update";

inline constexpr TRect kLabel1{191, 75, 40, 32};
// "COM 3", a carriage return and a space: two lines at start.
inline constexpr const char16_t* kLabel1Text = u"COM 3\r ";
inline constexpr TFontSpec kLabel1Font{u"Tahoma", 13, true};

inline constexpr TRect kUpDown1{238, 63, 25, 40};
inline constexpr int kPortMin = 1;
inline constexpr int kPortMax = 30;

// Every control, in creation order (which is the tab order). A control sized
// to its text keeps only its position from the table.
struct TChildLayout {
  const char* Name;
  TRect Rect;
  bool SizedToText;
};
inline constexpr TChildLayout kChildren[] = {
    {"ProgressBar1", kProgressBar1, false}, {"DeviceName", kDeviceName, false},
    {"Button8", kButton8, false},           {"Label1", kLabel1, true},
    {"UpDown1", kUpDown1, false},
};

}  // namespace dov::form4
