// Language text ids by name: the one place each id is defined. The texts
// live in lang.ini; the dialogs' fixed captions come through the bindings
// of app/DialogTexts instead.
#pragma once

namespace miravo::text {

inline constexpr int kClose = 1;
inline constexpr int kCancel = 240;
inline constexpr int kUserName = 13;
inline constexpr int kPassword = 14;
inline constexpr int kOk = 35;
inline constexpr int kSyncingContacts = 74;
inline constexpr int kDestinationNumber = 100;
inline constexpr int kNameOptional = 101;
inline constexpr int kContactBookName = 102;
inline constexpr int kEdit = 105;
inline constexpr int kDelete = 106;
inline constexpr int kNumber = 107;
inline constexpr int kCsvFields = 116;
inline constexpr int kNewerVersion = 122;
inline constexpr int kCreatingCoverPage = 124;
inline constexpr int kGroupMembers = 126;  // %d: the member count
inline constexpr int kReadingAccount = 207;
inline constexpr int kSavingAccount = 208;

// The preview window.
inline constexpr int kPreviousPage = 209;
inline constexpr int kNextPage = 210;
inline constexpr int kFitToWindow = 211;
inline constexpr int kNoShowablePage = 212;  // %s: the file
inline constexpr int kNoSuchDocument = 213;  // %s: the file
inline constexpr int kPageUnreadable = 214;  // %d of %d
inline constexpr int kPageOfPages = 215;     // %d of %d

inline constexpr int kContactFieldRefused = 216;

// The send dialog's own document.
inline constexpr int kChooseDocument = 218;
inline constexpr int kNoDocumentYet = 219;
inline constexpr int kDocumentNotConverted = 220;  // %s: the file's name
inline constexpr int kDocumentsFilter = 221;
inline constexpr int kConversionFailed = 242;  // %s: the reason

// The offer of jobs printed while nobody was logged in.
inline constexpr int kWaitingJobsTitle = 243;
inline constexpr int kWaitingJobsExplained = 244;
inline constexpr int kWaitingJobsTitleHeader = 245;
inline constexpr int kWaitingJobsPagesHeader = 246;
inline constexpr int kWaitingJobsPrintedHeader = 247;
inline constexpr int kWaitingJobsConvert = 248;
inline constexpr int kWaitingJobsDiscard = 249;
inline constexpr int kWaitingJobsLater = 250;
// The mass-fax list's file filter.
inline constexpr int kListFilesFilter = 251;

// The status window's list of every destination.
inline constexpr int kStatusHeader = 12;
inline constexpr int kCurrency = 32;
inline constexpr int kDestinationDetails = 222;
inline constexpr int kCopy = 223;
inline constexpr int kNameHeader = 225;
inline constexpr int kCostHeader = 226;

inline constexpr int kNoBrowser = 227;  // %s: the sign-up address
inline constexpr int kContactBookNotSaved = 217;
inline constexpr int kContactFileKeptAside = 241;  // %s: where the old file was kept
inline constexpr int kFailed = 36;

// Status line of the sending status window when a send ends without the fax
// being under way at the service.
inline constexpr int kNotSent = 200;
inline constexpr int kNotSentDocumentMissing = 201;
inline constexpr int kNotSentNoAnswer = 202;
inline constexpr int kNotSentUnreachable = 203;
inline constexpr int kNotSentValueRefused = 204;
inline constexpr int kNotSentServiceError = 205;
inline constexpr int kDeliveryStatusUnreadable = 206;

// The send dialog's two sentences.
inline constexpr int kDocumentSentence = 19;   // %s: the document's name
inline constexpr int kMethodSentence = 54;
inline constexpr int kDitheringName = 55;
inline constexpr int kThresholdName = 56;
// The automatic conversion method: its choice in Options, its name in the
// send dialog's sentence.
inline constexpr int kAutomaticLabel = 435;
inline constexpr int kAutomaticName = 436;
// A page of an image file that cannot be decoded. %s: the document, %d: the page.
inline constexpr int kImagePageUnreadable = 437;

// Workers' titles and status lines.
inline constexpr int kConvertingTitle = 57;
inline constexpr int kConvertingStatus = 58;
inline constexpr int kAccountPreferences = 59;
inline constexpr int kCoverTitle = 123;
inline constexpr int kJoiningCoverPage = 125;

// Verdicts of the exchanges with the service.
inline constexpr int kSending = 52;
inline constexpr int kWaiting = 53;
inline constexpr int kRequestTooLarge = 77;
inline constexpr int kInvalidValue = 79;
inline constexpr int kMassFax = 117;
inline constexpr int kDestination = 33;
inline constexpr int kTotalCostHeading = 34;  // "Total cost:"
inline constexpr int kUnknownStatus = 51;
// No usable answer came; also the error code shown with it.
inline constexpr int kNoUsableAnswer = 999;

// The journal of sent faxes: its window, the tray menu entry and the send
// dialog's button.
inline constexpr int kRefresh = 115;
inline constexpr int kSentFaxes = 252;
inline constexpr int kSearchSentFaxes = 253;
inline constexpr int kDateHeader = 254;
inline constexpr int kDocumentHeader = 255;
inline constexpr int kDestinationsHeader = 256;
inline constexpr int kPagesHeader = 257;
inline constexpr int kOutcomeHeader = 258;
inline constexpr int kLastCheckedHeader = 259;
inline constexpr int kExportSelected = 260;
inline constexpr int kExportAll = 261;
inline constexpr int kExportSentFaxes = 262;
inline constexpr int kCsvFilesFilter = 263;
inline constexpr int kJournalKeptAside = 264;   // %s: where the unreadable journal was kept
inline constexpr int kJournalNotOpened = 265;   // %s: the journal's file
inline constexpr int kFaxIdFact = 266;          // %s: the fax id
inline constexpr int kPagesFact = 267;          // %d: the page count
inline constexpr int kWithCoverPage = 268;
inline constexpr int kReportWithDocument = 269;
inline constexpr int kReportOnly = 270;
inline constexpr int kNoReport = 271;
inline constexpr int kEstimatedCostFact = 272;  // %s: the amount with its currency
inline constexpr int kTotalCostFact = 273;      // %s: the amount with its currency
inline constexpr int kUnderWay = 274;
inline constexpr int kAskingAboutUnfinished = 275;
inline constexpr int kRefreshCounts = 276;       // %d faxes asked about, %d statuses changed
inline constexpr int kCredentialsMissing = 277;
inline constexpr int kCredentialsRefused = 278;
inline constexpr int kServiceUnreachable = 279;
inline constexpr int kFileNotWritten = 280;      // %s: the file
inline constexpr int kSendsWritten = 281;        // %s: the file, %d: the sends written
inline constexpr int kDeliveredCount = 282;      // %d
inline constexpr int kFailedCount = 283;         // %d
inline constexpr int kUnderWayCount = 284;       // %d
// A send in batches and number checking.
inline constexpr int kDestinationsDone = 320;    // %d of %d done, %d OK, %d failed
inline constexpr int kNotSentCount = 321;        // %d not sent
inline constexpr int kDestinationNotSent = 322;  // a destination never sent
inline constexpr int kNumberCounts = 323;        // %d valid, %d invalid, %d duplicates
inline constexpr int kRemoveInvalid = 324;
inline constexpr int kRemoveDuplicates = 325;
inline constexpr int kWriteInternational = 326;
inline constexpr int kInvalidNumbersQuestion = 327;  // %d
inline constexpr int kSendAnyway = 328;
inline constexpr int kRemoveThem = 329;
inline constexpr int kGoBack = 330;
inline constexpr int kDefaultRegion = 331;
inline constexpr int kInvalidNumberHint = 332;   // %s: the region


// The desktop program as a daily tool (400 and up).
inline constexpr int kRetryingUnreachable = 400;  // %d: seconds to the next attempt, %d: the attempt
inline constexpr int kServiceSilent = 401;        // %d: seconds since the last answer
inline constexpr int kServiceBack = 402;
inline constexpr int kNumbersRefused = 403;       // %s: the numbers
inline constexpr int kStopFollowingQuestion = 404;
inline constexpr int kStopFollowing = 405;
inline constexpr int kKeepFollowing = 406;
inline constexpr int kCoverCharactersLeft = 407;  // %d
inline constexpr int kCoverPasteRefused = 408;    // %d: pasted characters, %d: the limit
inline constexpr int kDocumentPages = 409;        // %d
inline constexpr int kTooManyPagesWithCover = 410;  // %d: pages with the cover page, %d: the limit
inline constexpr int kTooManyPages = 411;         // %d: pages, %d: the limit
inline constexpr int kCoverPageNotMade = 412;
inline constexpr int kLastSendFailed = 413;       // %s: what the status window said
inline constexpr int kSearch = 414;
inline constexpr int kSendableDocuments = 415;
inline constexpr int kSwitchOn = 416;
inline constexpr int kSwitchOff = 417;
inline constexpr int kTitleSending = 418;
inline constexpr int kTitleSent = 419;
inline constexpr int kTitleNotSent = 420;
inline constexpr int kTrayShow = 421;
inline constexpr int kTrayQuit = 422;
inline constexpr int kNotifyDelivered = 423;
inline constexpr int kNotifyNotDelivered = 424;
inline constexpr int kNotifyNotSent = 425;
inline constexpr int kTrayProgress = 426;         // %s: the status line
inline constexpr int kNotSentBecause = 427;       // %s: why, in the program's words

// Kept documents, the transmission report and sending again.
inline constexpr int kTransmissionReport = 360;
inline constexpr int kReportDateTime = 361;
inline constexpr int kReportDocument = 362;
inline constexpr int kReportCoverPage = 363;
inline constexpr int kYes = 364;
inline constexpr int kNo = 365;
inline constexpr int kReportNumber = 366;
inline constexpr int kReportName = 367;
inline constexpr int kReportStatus = 368;
inline constexpr int kReportCost = 369;
inline constexpr int kReportTotal = 370;
inline constexpr int kReportPageOf = 371;       // %d of %d
inline constexpr int kReportFirstPage = 372;
inline constexpr int kReportRecord = 373;       // %d: the record
inline constexpr int kReportRepeats = 374;      // %d: the record repeated
inline constexpr int kReportNotSent = 375;      // %s: why
inline constexpr int kViewDocument = 376;
inline constexpr int kSaveReportPdf = 377;
inline constexpr int kSendAgainFailed = 378;
inline constexpr int kSendAgainAll = 379;
inline constexpr int kDocumentNotKept = 380;
inline constexpr int kPdfFilesFilter = 381;
inline constexpr int kReportDestinations = 382; // %d destinations, %d OK, %d failed
inline constexpr int kNothingToSendAgain = 383;
inline constexpr int kSentDocumentNotKept = 384; // %s: why
// Why a send was recorded with nothing sent, when it stopped on this side.
inline constexpr int kValueRefusedBeforeSending = 385;
inline constexpr int kNoCredentialsGiven = 386;
inline constexpr int kInvalidNumbersRefused = 387;

// The password's place, vCard in and out, accessible names.
inline constexpr int kKeptInKeyring = 301;
inline constexpr int kKeptInSettingsFile = 302;
inline constexpr int kImportContacts = 303;
inline constexpr int kExportContacts = 304;
inline constexpr int kVCardFilesFilter = 305;
inline constexpr int kContactsImported = 306;     // %d added, %d already there, %d without number
inline constexpr int kCheckImportedNumbers = 307; // %s: the contacts' names
inline constexpr int kContactsExported = 308;     // %s: the file, %d: the contacts
inline constexpr int kFileNotRead = 309;          // %s: the file
inline constexpr int kContactBookButtonHint = 310;
inline constexpr int kMassFaxButtonHint = 311;
// The document to upload could not be read from the disk: nothing more was sent.
inline constexpr int kUploadDocumentUnreadable = 580;

// Documents that did not become a fax: why, in the user's words, and the
// password of a protected PDF.
inline constexpr int kPasswordTitle = 460;
inline constexpr int kPasswordAsk = 461;           // %s: the document's name
inline constexpr int kPasswordAskAgain = 462;      // %s: the document's name
inline constexpr int kPdfNeedsPassword = 463;      // %s: the document's name
inline constexpr int kPasswordDoesNotOpen = 464;   // %s: the document's name
inline constexpr int kDocumentUnreadable = 465;    // %s: the document's name
inline constexpr int kDocumentDamaged = 466;       // %s: the document's name
inline constexpr int kImageUnreadable = 467;       // %s: the document's name
inline constexpr int kDocumentNoPage = 468;        // %s: the document's name
inline constexpr int kDocumentTooManyPages = 469;  // %s: the document's name, %d: the limit
inline constexpr int kDocumentTooLarge = 470;      // %s: the document's name
inline constexpr int kDocumentTooSlow = 471;       // %s: the document's name
inline constexpr int kDocumentNotWritten = 472;    // %s: the document's name
inline constexpr int kProblemDetails = 473;        // %s: what a library said
inline constexpr int kPasswordPrompt = 474;        // %s: the document's name (terminal)

// The import summary's lists, the CSV import's name field and preview.
inline constexpr int kImportSkippedHeading = 540;
inline constexpr int kSkippedNoNumber = 541;       // %s: the card's name
inline constexpr int kSkippedNoFaxNumber = 542;    // %s: the card's name
inline constexpr int kSkippedOnlyMobile = 543;     // %s: the card's name
inline constexpr int kSkippedNumberTooLong = 544;  // %s: the card's name
inline constexpr int kSkippedAlreadyThere = 545;   // %s: the card's name
inline constexpr int kCardWithoutName = 546;
inline constexpr int kImportNamesHeading = 547;
inline constexpr int kNameReplaced = 548;          // %s: the card's name, %s: the book's
inline constexpr int kNameCut = 549;               // %s: the card's name, %s: the book's
inline constexpr int kCsvNameField = 550;
inline constexpr int kCsvNoNameField = 551;
inline constexpr int kCsvPreview = 552;
inline constexpr int kCsvSampleValues = 553;

// Names of controls that have no label of their own in every language.
inline constexpr int kLanguageLabel = 650;
inline constexpr int kCoverTextName = 651;
inline constexpr int kUntitledDocumentSentence = 652;  // the document sentence of a job without a title


// How a send ended, once every destination is final: the status window's
// summary row, title and tray, the notification and miravo-send's last line.
inline constexpr int kOutcomeAllDelivered = 490;
inline constexpr int kOutcomeSomeDelivered = 491;  // %d of %d delivered (%s: the counts)
inline constexpr int kOutcomeNoneDelivered = 492;
inline constexpr int kOutcomeRunning = 493;        // %s: the counts of a list under way
// A send dialog or list holding work, about to be closed.
inline constexpr int kDiscardWorkQuestion = 494;
inline constexpr int kDiscardWork = 495;
inline constexpr int kKeepWork = 496;
// A number the fax service cannot take (letters, too few or too many digits).
inline constexpr int kNumberServiceRefuses = 497;  // %s: the number
// The password kept in the settings file while a keyring exists but was not open.
inline constexpr int kMoveToKeyring = 498;
inline constexpr int kKeptInFileKeyringClosed = 499;
// What the counts count.
inline constexpr int kFaxPagesTimesNumbers = 500;  // %d fax pages: %d pages x %d numbers
inline constexpr int kListCount = 501;             // %d: the numbers of the mass-fax list
inline constexpr int kShowOnlyInvalid = 502;
// The first moments: a certificate refused, what Check checked.
inline constexpr int kUntrustedCertificate = 503;  // %s: the service's host
inline constexpr int kCheckAccepted = 504;         // %s: the service's host
inline constexpr int kDuplicatesMerged = 505;      // %d: repeats merged while adding
// A fax of several documents and its pages.
inline constexpr int kAddDocument = 750;
inline constexpr int kTurnPage = 751;
inline constexpr int kRemovePage = 752;
inline constexpr int kFaxPagesRefused = 753;  // %s: the document, %d: the pages, %d: the limit
inline constexpr int kFaxDocumentLine = 754;  // %s: the document, %d: its pages in the fax
inline constexpr int kPageCaption = 755;      // %s: the document, %d: the page there
inline constexpr int kFaxPagesList = 756;
inline constexpr int kFaxPagesHint = 757;
inline constexpr int kFaxNotComposed = 758;   // %s: what went wrong

// The CA file the settings name cannot be used.
inline constexpr int kCaFileUnusable = 700;  // %s: the CA_FILE path
// The renderer could not be confined, so the document was not opened.
inline constexpr int kRendererUnprotected = 701;  // %s: the document's name
// Options: a keyring is open, and the saved password goes there on confirming.
inline constexpr int kGoesToKeyringOnConfirm = 702;

// A print while a fax is open: add it to that fax, or make a new one.
inline constexpr int kOpenFaxTitle = 800;
inline constexpr int kOpenFaxQuestion = 801;
inline constexpr int kOpenFaxList = 802;
inline constexpr int kOpenFaxAdd = 803;
inline constexpr int kOpenFaxNew = 804;

}  // namespace miravo::text
