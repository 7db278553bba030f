// The control's persisted properties, one row each. The control's accessors and their guarded
// entry points, the values a new control starts with (CPL5Properties) and the persistence map are
// all made from this one list; a test holds the reference's property rows to it.
#pragma once
#include "control/ScriptValues.h"

// What MaxFileCount holds when there is no limit, and the most MaxUnitFileSize and
// MaxTotalFileSize keep.
constexpr ULONG NO_COUNT_LIMIT = 4294967295UL;
constexpr ULONG MAX_FILE_SIZE = 2147483648UL;
// The program title every new control sets for the process.
constexpr wchar_t DEFAULT_PROGRAM_TITLE[] = L"Pelora";

// PL5_PROPERTIES(KEPT, SHARED) names every property, in the order a container loads them: flags
// before InputType (which overrides them), Language before ProgramTitle.
//
//   KEPT(name, dispid, kind, default, field, store, then)
//     A value each control keeps in `field` of CPL5Properties. A put stores the new value by the
//     rule `store` and then calls `then`, both members of CPL5Ctrl:
//       Store               keeps the value as given
//       StoreTwoChars       keeps the first two characters
//       StoreFileSize       keeps at most MAX_FILE_SIZE
//       StoreIfNoWindow     keeps it only while the control has no window
//       StoreIfNoInputType  keeps it only while InputType is empty
//     and `then` is Nothing, or what must follow the new value at once.
//   SHARED(name, dispid, kind, default)
//     A value the whole process shares; its get and put are written by hand.
//
// kind: Text (a BSTR, kept as std::wstring), Flag (a VARIANT_BOOL, kept as bool), ULong, Short.
// The dispids and kinds are those of IPL5Ctrl in resources/Pelora5.idl.
// clang-format off
#define PL5_PROPERTIES(KEPT, SHARED)                                                                                 \
    KEPT(Language,           3,   Text,  L"ko",          strLanguage,         StoreTwoChars,      LoadLanguagePack)  \
    SHARED(ProgramTitle,     4,   Text,  DEFAULT_PROGRAM_TITLE)                                                      \
    KEPT(ChildMode,          5,   Flag,  false,          bChildMode,          StoreIfNoWindow,    Nothing)           \
    KEPT(SilentMode,         6,   Flag,  false,          bSilentMode,         Store,              Nothing)           \
    KEPT(MaxFileCount,       101, ULong, NO_COUNT_LIMIT, nMaxFileCount,       Store,              Nothing)           \
    KEPT(MaxUnitFileSize,    102, ULong, MAX_FILE_SIZE,  nMaxUnitFileSize,    StoreFileSize,      Nothing)           \
    KEPT(MaxTotalFileSize,   103, ULong, MAX_FILE_SIZE,  nMaxTotalFileSize,   StoreFileSize,      Nothing)           \
    KEPT(Action,             104, Text,  L"",            strAction,           Store,              Nothing)           \
    KEPT(InputName,          105, Text,  L"file",        strInputName,        Store,              Nothing)           \
    KEPT(InputTypeArray,     106, Flag,  false,          bInputTypeArray,     StoreIfNoInputType, Nothing)           \
    KEPT(InputNameFixed,     107, Flag,  false,          bInputNameFixed,     StoreIfNoInputType, Nothing)           \
    KEPT(InputType,          108, Text,  L"",            strInputType,        Store,              ApplyInputType)    \
    KEPT(UseUnicode,         109, Flag,  false,          bUseUnicode,         Store,              Nothing)           \
    KEPT(MakeInlineResponse, 110, Flag,  false,          bMakeInlineResponse, Store,              Nothing)           \
    KEPT(BkImgURL,           201, Text,  L"",            strBkImgURL,         Store,              Nothing)           \
    KEPT(ListStyle,          202, Text,  L"",            strListStyle,        Store,              ApplyColumnWidth)  \
    KEPT(ShowFullPath,       203, Flag,  false,          bShowFullPath,       Store,              ApplyShowFullPath) \
    KEPT(ShowStatus,         204, Flag,  true,           bShowStatus,         Store,              Layout)            \
    KEPT(ItemWidth,          205, Short, -1,             nItemWidth,          Store,              ApplyColumnWidth)  \
    KEPT(DialogListHeight,   206, Short, -1,             nDialogListHeight,   Store,              ApplyListHeight)   \
    KEPT(Scrolling,          207, Flag,  true,           bScrolling,          Store,              SwitchScrolling)   \
    KEPT(UseDragDrop,        301, Flag,  true,           bUseDragDrop,        Store,              Nothing)           \
    KEPT(UseDeleteKey,       302, Flag,  true,           bUseDeleteKey,       Store,              Nothing)           \
    KEPT(UseContextMenu,     303, Flag,  true,           bUseContextMenu,     Store,              Nothing)
// clang-format on

// The values of one control's kept properties; a new control has the table's defaults. ItemWidth
// -1 is automatic, DialogListHeight -1 the dialog template's own height.
struct CPL5Properties
{
#define PL5_FIELD(name, dispid, kind, def, field, ...) PL5Script::kind::Value field = def;
#define PL5_NOT_KEPT(...)
    PL5_PROPERTIES(PL5_FIELD, PL5_NOT_KEPT)
#undef PL5_FIELD
#undef PL5_NOT_KEPT
};
