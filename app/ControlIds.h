// Control ids by name: the one place each id that code finds a control
// by is defined (every control's objectName is "id<N>" in the .ui files;
// workers name the status window's labels and the status line by them).
#pragma once

namespace miravo::controlid {


inline constexpr int kHeaderStrip = 1008;  // the logo strip of every main dialog
inline constexpr int kProgressBar = 1013;  // the bar a worker drives
inline constexpr int kChooseDocument = 1201;  // the send dialog's document button

// The send dialog's two sentences.
inline constexpr int kDocumentSentence = 1021;
inline constexpr int kMethodSentence = 1052;

// The status window's labels, written by the send worker.
inline constexpr int kLabelTransfer = 1036;
inline constexpr int kLabelAuthentication = 1037;  // also service errors "#code text"
inline constexpr int kLabelFaxId = 1038;
inline constexpr int kLabelPages = 1039;
inline constexpr int kLabelPrebilling = 1040;
inline constexpr int kLabelRecipient = 1042;  // 1042..1044
inline constexpr int kLabelStatus = 1047;     // 1047..1049
inline constexpr int kLabelTotalCost = 1050;

// The status line every worker window has.
inline constexpr int kStatusLine = 1051;

}  // namespace miravo::controlid
