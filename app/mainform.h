#pragma once

#include "exchangerecord.h"
#include "parammap.h"

#include <QColor>
#include <QMainWindow>
#include <QPointer>
#include <QString>
#include <QStringList>

#include <array>
#include <functional>
#include <memory>
#include <optional>

class CAdapter;
class QAction;
class QComboBox;
class QGroupBox;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QTimer;
class QToolButton;

namespace Ui {
class TfrmMain;
}

// The configurator's window: the connection settings and their file, Start and Stop, the five
// device pages, and the one exchange buffer through which every page talks to the device.
//
// Page operations are defined in the pages' own units and built from readParameter and
// writeParameter alone. Names in PascalCase are the window's operations, handlers and fields as
// the program knows them; our own building blocks follow Qt's naming (lowerCamelCase, fields
// with m_).
class TfrmMain : public QMainWindow
{
    Q_OBJECT

public:
    // settingsPath: the settings file; empty for the executable's own (settingsFilePath).
    explicit TfrmMain(QWidget *parent = nullptr, const QString &settingsPath = {});
    ~TfrmMain() override;

    // Connection settings. The four indexes are rows of the left panel's lists, 255 for none.
    quint8 PortNumber() const { return m_portNumber; }
    quint8 SpeedNumber() const { return m_speedNumber; }
    quint16 TimeOut() const { return m_timeOut; }
    quint16 DeviceNumber() const { return m_deviceNumber; }
    quint8 Parity() const { return m_parity; }
    quint8 StopBits() const { return m_stopBits; }

    static QString PortCaption(quint8 index);
    static quint32 BaudRate(quint8 index);
    static QString SpeedCaption(quint8 index);
    // The message shown in the error area for a result code; empty for success and unknown codes.
    static QString ResultText(qint16 code);

    // The settings file of an executable: its path with the extension replaced by ".ini".
    static QString settingsFileName(const QString &executablePath);
    // Where the settings file of an executable is kept: beside it (settingsFileName) where that
    // file exists and is writable or the folder is writable; otherwise, as for an installed
    // program, under the user's configuration folder, in a folder of the executable's base name
    // made ready for the first save.
    static QString settingsFilePath(const QString &executablePath);

    // Parameter selection and the buffer shared by every exchange.
    static constexpr int kExchangeRegisters = 100;
    static constexpr int kExchangeBytes = 2 * kExchangeRegisters;
    std::array<quint16, kExchangeRegisters> ExchangeBuffer{}; // host order
    qint16 CurrentParameter = 0;
    quint16 ParamRegister = 0;
    quint8 ParamBytes = 0;

    // Takes the parameter's register and length from the map and zeroes the buffer. An id
    // outside the map keeps the previous register and length.
    void SelectParameter(qint16 id);

    // Puts the value to send into ExchangeBuffer; false refuses the input (nothing is sent).
    using Encode = std::function<bool()>;
    // Shows the value held in ExchangeBuffer in the page's controls.
    using Decode = std::function<void()>;

    // The common read and write procedures: one exchange for parameter id with the device of
    // DeviceNumber, reported in the error area and in valueControl's text colour (none: no
    // colour); show runs after a success. While not connected nothing at all happens, and they
    // return nothing; otherwise the exchange's result code (lrBadParameters when put refused).
    std::optional<qint16> readParameter(TParamId id, QWidget *valueControl, const Decode &show);
    std::optional<qint16> writeParameter(TParamId id, QWidget *valueControl, const Encode &put,
                                         const Decode &show);

    // ---- Device pages, one unit each under pages/. Each page connects its own controls. ----

    // System parameters page: the device's own network address, speed, stop bits and parity.
    void PortAllRd();
    void PortNetAddrRd();
    void PortNetAddrWr();
    void PortSpeedRd();
    void PortSpeedWr();
    void PortStopBitRd();
    void PortStopBitWr();
    void PortParityRd();
    void PortParityWr();

    // Information page: the firmware version and the device's name.
    void InformationAllRd();
    void InformationProgVerRd();
    void InformationDevNameRd();
    void InformationDevNameWr();

    // Mode page: what the indicator shows and how. Each value has its read and its write; the
    // value fields check what the user types, and the top of the ordered range and the decimal
    // point limit each other.
    void ModeAllRd();
    void ModeDeadSpaceRd();
    void ModeDeadSpaceWr();
    void ModeBrightnessRd();
    void ModeBrightnessWr();
    void ModeRElSignalBottomRangeRd();
    void ModeRElSignalBottomRangeWr();
    void ModeRElSignalTopRangeRd();
    void ModeRElSignalTopRangeWr();
    void ModeDecimalPointPosRd();
    void ModeDecimalPointPosWr();
    void ModeRangeSetRd();
    void ModeRangeSetWr();
    void ModeBottomRangeRd();
    void ModeBottomRangeWr();
    void ModeTopRangeRd();
    void ModeTopRangeWr();
    void ModeUnitRd();
    void ModeUnitWr();
    void ModeScaleTypeRd();
    void ModeScaleTypeWr();
    void ModeBlinkRd();
    void ModeBlinkWr();

    // The highest top range the user may type, set by the chosen decimal point. Until one is
    // chosen it is the most that the four digits show, so that nothing is cut before then.
    double TopRangeLimit = 9999;

    // Readings page: the device's display text and its self-diagnostic flags, polled.
    void TimerDataTxtRd();

    // Calibration page: the live display text, and the two ends of the input range taken from
    // the device's own calibration value.
    void TimerClbrRd();
    void ClbrPointWr(TParamId target, QPushButton *button);

protected:
    void closeEvent(QCloseEvent *event) override;
    bool event(QEvent *event) override;

private:
    // What entering a page does after the timer has stopped and before the page shows.
    enum class PageEntry { ReadAll, Poll };
    struct Page
    {
        QAction *action;
        QToolButton *button;
        QGroupBox *box;
        PageEntry entry;
        void (TfrmMain::*work)(); // the read-all or the timer handler; none until the page has one
    };

    void setUpToolBar();
    void setUpPages();
    void connectSignals();
    void loadSettings();
    bool saveSettings(QString *error);

    // Left panel
    void cmbPortChange(int index);
    void cmbSpeedChange(int index);
    void cmbParityChange(int index);
    void cmbStopBitChange(int index);
    void edtDevNumberChange(const QString &text);
    bool UpDownDevNumberChangingEx(int proposed);
    QString portDevice(quint8 portNumber, const QStringList &systemPorts) const;
    void showPortDevices(const QStringList &systemPorts);

    // Connection and navigation
    void Action1Execute(QAction *action);
    void Action2Execute(QAction *action);
    void ActionExitExecute();
    void mnuAboutClick();
    void startConnection();
    void stopConnection();
    void enableConnectedActions(bool connected);
    void stopTimer();
    void timerTick();
    void ShowPage(QGroupBox *box);
    void HidePage();
    void releaseAdapter();
    void FormClose();

    // System parameters page
    void connectPortPage();
    void edtPortNetAddrChange(const QString &text);
    void showPortNetAddr();
    void readList(TParamId id, QComboBox *list);
    void writeList(TParamId id, QComboBox *list);

    // Information page
    void connectInformationPage();
    void readText(TParamId id, QLineEdit *edit);

    // Mode page
    static constexpr int kModeRangeDecimals = 3; // every float but the dead space
    static constexpr int kModeDeadSpaceDecimals = 1;
    static constexpr float kModeDeadSpaceLowest = 0;
    static constexpr float kModeDeadSpaceHighest = 2;
    using ModeCheck = void (TfrmMain::*)();
    // A value field with the check that runs while it has the input focus.
    struct ModeField
    {
        QLineEdit *edit;
        ModeCheck focusedCheck;
        bool checkOnEntry;      // the check also runs once when the field gets the focus
        ModeCheck blurredCheck; // attached and run once when the field loses it; none: detached
        ModeCheck attached;     // the check that its text changes run now
    };
    void connectModePage();
    // A field's text as a single-precision number; none when the text is no number.
    static std::optional<float> numberIn(const QLineEdit *edit);
    void setUpModeFields();
    void modeFieldFocus(ModeField &field, bool focusIn);
    void runAttachedCheck(const ModeField &field);
    void edtModeDeadSpaceChange();
    void edtModeRangeSetChange();
    void edtModeBottomRangeChange();
    void edtModeTopRangeChange();
    void edtModeTopRangeChange1();
    void edtModeRElSignalBottomRangeChange();
    void edtModeRElSignalTopRangeChange();
    // radioModeDecimalPointPos1..4: no decimals to three.
    std::array<QRadioButton *, 4> decimalPointButtons() const;
    void applyDecimalPointRule(float topRange);
    void ActionDecPointChangeExecute();
    void readModeFloat(TParamId id, QLineEdit *edit);
    void writeModeFloat(TParamId id, QLineEdit *edit, const std::function<float(float)> &rule);
    float keepBelow(float value, QLineEdit *edit, QLineEdit *top);
    float keepAbove(float value, QLineEdit *edit, QLineEdit *bottom);
    void showModeDeadSpace(float value);
    void showModeFloat(QLineEdit *edit);
    std::array<ModeField, 6> m_modeFields{};

    // Readings page. The live display's look and its text serve the Calibration page too.
    void setUpDataPage();
    static void setUpLiveDisplay(QLineEdit *display);
    void showDisplayText(QLineEdit *display);

    // Calibration page
    void connectCalibrationPage();
    void btnClbrBottomClick();
    void btnClbrTopClick();

    // Search for devices on the line
    void mnuSearchClick();
    void applyFoundDevice(int portNumber, int speedNumber, int parity, int address);

    // Exchange monitor: one window at most; while it is open, every adapter reports to it.
    void mnuMonitorClick();
    void watchExchanges(ExchangeObserver observer);
    QPointer<QWidget> m_monitor;
    ExchangeObserver m_exchangeObserver;

    // Exchanges and their outcome
    bool isConnected() const;
    quint8 slaveAddress() const;
    // The read of the common procedure with no report: its result code, ExchangeBuffer holding
    // the registers on success; nothing while not connected.
    std::optional<qint16> readIntoBuffer(TParamId id);
    void colourOutcome(qint16 code, QWidget *valueControl);
    qint16 finish(qint16 code, QWidget *valueControl, const Decode &show);
    void showOutcome(qint16 code, QWidget *valueControl);

    std::unique_ptr<Ui::TfrmMain> ui;
    QString m_settingsPath;
    std::array<QString, 8> m_mappedPorts; // [PORTS] COM1..COM8 of the settings file, empty if none

    quint8 m_portNumber = 0;
    quint8 m_speedNumber = 0;
    quint16 m_timeOut = 0; // handed to the adapter at Start; nothing ever changes it
    quint16 m_deviceNumber = 0;
    quint8 m_parity = 0;
    quint8 m_stopBits = 0;

    std::unique_ptr<CAdapter> Adapter; // none while stopped
    QGroupBox *CurrentPage = nullptr;
    std::array<Page, 5> m_pages{};
    QTimer *Timer;
    void (TfrmMain::*m_timerHandler)() = nullptr;
};

// The configurator's main window, once the program has created it.
extern TfrmMain *frmMain;

// Colours a control's text: the one place where outcome colours are applied.
// Pure red: a value whose last exchange failed, a fault the device reports.
inline constexpr QColor kFailureColour(255, 0, 0);

void setTextColour(QWidget *control, const QColor &colour);

// Selects the row of a list, or no row when there is no such row.
void selectRow(QComboBox *list, qint64 row);

// The text of an edit read as a whole decimal number, or fallback when it is none.
int wholeNumberOr(const QString &text, int fallback);
// Puts a number into an edit, touching it only when its text differs, so that a change
// handler that calls this does not run again for nothing.
void showNumber(QLineEdit *edit, int number);
