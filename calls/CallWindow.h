#pragma once

#include <Qt>
#include <initializer_list>

class QAbstractButton;
class QLineEdit;
class QWidget;
class TDBLookupComboBox;
class TLookupBinding;
class TTable;

// A call window of fixed size: title bar with the close box only.
inline constexpr Qt::WindowFlags FixedCallWindowFlags = Qt::Window | Qt::MSWindowsFixedSizeDialogHint |
                                                        Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                                                        Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint;

// The station picker every call window has: the Name list over the window's own
// user table, and the Fleet and Ident boxes (integer characters only, 3 and 4 of
// them as typed, a stored value shown whole; read-only until "Other" is shown).
TLookupBinding *BindStationPicker(TTable *users, TDBLookupComboBox *names, QLineEdit *fleet, QLineEdit *ident,
                                  QWidget *window);

// The operator types the station for "Other": exactly that name, in that case,
// makes both boxes editable; any other shown name makes them read-only.
void UnlockForOther(const TDBLookupComboBox *names, QLineEdit *fleet, QLineEdit *ident);

// Puts a station in a picker, as the operator would choose it: its directory row
// when it has one (the directory re-read first), else "Other" with the numbers
// typed in. Without an "Other" row the boxes show the numbers and the list nothing.
void HoldStationInPicker(TLookupBinding *binding, TDBLookupComboBox *names, QLineEdit *fleet,
                         QLineEdit *ident, int fleetNumber, int identNumber);

// Enter on a focused picture button clicks it, as Space does.
void EnterClicksButtons(std::initializer_list<QAbstractButton *> buttons, QWidget *window);

// Centres the window the first time it is shown; afterwards it stays where the
// operator put it.
void CentreOnFirstShow(QWidget *window, bool &centred);
