// The program's dialog templates, menu and string table.
#include <algorithm>

#include "resources/DialogTemplate.h"

namespace {

using K = ControlKind;
namespace S = ControlStyle;
namespace D = DialogStyle;
namespace M = MainIds;
namespace P = PortSettingsIds;
namespace SP = StringPanelIds;
namespace MP = ModbusPanelIds;
namespace C = ChecksumIds;
namespace CV = ConversionIds;

constexpr uint32_t kModalDialog = D::Caption | D::SystemMenu | D::ModalFrame;

// One row per control, laid out as the tables are read.
// clang-format off
const std::vector<DialogTemplate>& Templates() {
    static const std::vector<DialogTemplate> templates = {
        {IDD_ABOUTBOX, "关于 Talvenor", 235, 55, "宋体", 9, kModalDialog,
         {
             {0, K::Icon, "", 11, 17, 20, 20},
             {0, K::Label, "Talvenor 2.0 版", 40, 10, 119, 8},
             {0, K::Label, "Modbus 串口测试工具", 40, 25, 119, 8},
             {IDOK, K::Button, "确定", 178, 7, 50, 14, S::DefaultButton | S::GroupStart},
         }},
        {IDD_MAIN, "Talvenor", 370, 276, "宋体", 12, kModalDialog,
         {
             {0, K::Frame, "", 45, 5, 82, 20, S::Sunken},
             {0, K::Frame, "", 152, 5, 104, 20, S::Sunken},
             {0, K::Frame, "", 259, 5, 99, 20, S::Sunken},
             {M::IDC_MONITOR_TIME, K::CheckBox, "监测接收时间", 50, 9, 72, 13},
             {M::IDC_STRING_MODE, K::RadioButton, "字符串", 158, 10, 40, 10, S::GroupStart},
             {M::IDC_MODBUS_MODE, K::RadioButton, "Modbus", 212, 10, 40, 10},
             {M::IDC_TIMED_SEND, K::CheckBox, "定时发送", 263, 10, 42, 9, S::GroupStart | S::Disabled},
             {M::IDC_INTERVAL, K::Edit, "", 308, 9, 33, 12, S::DigitsOnly},
             {0, K::Label, "ms", 342, 9, 12, 10},
             {0, K::Label, "接收：", 7, 5, 32, 19},
             {0, K::Line, "", 7, 29, 353, 1},
             {M::IDC_RECEIVE, K::Edit, "", 7, 32, 353, 142, S::Multiline | S::VScroll | S::WantReturn},
             {M::IDC_PANEL_AREA, K::Frame, "", 10, 178, 353, 61, S::Hidden},
             {0, K::Line, "", 7, 242, 353, 1},
             {M::IDC_PROGRESS, K::ProgressBar, "", 10, 245, 353, 6, S::Smooth},
             {M::IDC_SEND, K::Button, "发  送", 10, 256, 50, 14, S::Disabled},
             {M::IDC_CLEAR, K::Button, "清  空", 93, 256, 50, 14},
             {M::IDC_PAUSE, K::Button, "已暂停接收", 176, 256, 50, 14},
             {M::IDC_SETTINGS, K::Button, "设  定", 251, 256, 50, 14},
             {IDOK, K::Button, "退  出", 310, 256, 50, 14, S::DefaultButton},
         }},
        {IDD_PORT_SETTINGS, "端口配置", 306, 256, "宋体", 12, kModalDialog,
         {
             {0, K::GroupBox, "", 9, 4, 290, 28},
             {0, K::GroupBox, "", 9, 27, 290, 204},
             {0, K::Label, "端口：", 26, 17, 54, 10, S::RightAligned},
             {P::IDC_PORT, K::ComboBox, "", 102, 15, 103, 90, S::GroupStart,
              {"1",  "2",  "3",  "4",  "5",  "6",  "7",  "8",  "9",  "10", "11", "12", "13", "14", "15",
               "16", "17", "18", "19", "20", "21", "22", "23", "24", "25", "26", "27", "28", "29", "30"}},
             {0, K::Label, "BaudRate:", 26, 37, 54, 10, S::RightAligned},
             {P::IDC_BAUD, K::ComboBox, "", 102, 35, 103, 90, S::None, {"921600", "460800", "230400", "115200", "57600", "38400", "19200", "9600", "4800", "2400", "1200", "300"}},
             {0, K::Label, "Parity:", 26, 55, 54, 10, S::RightAligned},
             {P::IDC_PARITY, K::ComboBox, "", 102, 53, 103, 90, S::Uppercase, {"None", "Odd", "Even", "Mark", "Space"}},
             {0, K::Label, "Databits:", 26, 74, 54, 10, S::RightAligned},
             {P::IDC_DATA_BITS, K::ComboBox, "", 102, 72, 103, 90, S::None, {"8", "7", "6"}},
             {0, K::Label, "Stopbits:", 26, 92, 54, 10, S::RightAligned},
             {P::IDC_STOP_BITS, K::ComboBox, "", 102, 90, 103, 90, S::Sorted, {"1", "1.5", "2"}},
             {0, K::Label, "Sendbuffer:", 26, 109, 54, 10, S::RightAligned},
             {P::IDC_SEND_BUFFER, K::ComboBox, "", 102, 107, 104, 90, S::EditableCombo, {"255", "512", "1024", "2048", "4096"}},
             {0, K::Label, "Events:", 26, 123, 54, 10, S::RightAligned},
             {P::IDC_EV_BREAK, K::CheckBox, "Detect break on input", 102, 122, 190, 10},
             {P::IDC_EV_CTS, K::CheckBox, "Clear To Send changed state", 102, 134, 190, 10},
             {P::IDC_EV_DSR, K::CheckBox, "Data Set Ready changed state", 102, 146, 190, 10},
             {P::IDC_EV_ERR, K::CheckBox, "Line status error occurred", 102, 158, 190, 10},
             {P::IDC_EV_RING, K::CheckBox, "Ring detected", 102, 170, 190, 10},
             {P::IDC_EV_RLSD, K::CheckBox, "Receive Line Signal changed state", 102, 182, 190, 10},
             {P::IDC_EV_RXCHAR, K::CheckBox, "Character was received", 102, 194, 190, 10},
             {P::IDC_EV_RXFLAG, K::CheckBox, "Event character was received", 102, 206, 190, 10},
             {P::IDC_EV_TXEMPTY, K::CheckBox, "Last character in outputbuffer was send", 102, 218, 190, 10},
             {IDOK, K::Button, "OK", 60, 235, 50, 14, S::DefaultButton | S::GroupStart},
             {IDCANCEL, K::Button, "Cancel", 191, 235, 50, 14},
         }},
        {IDD_STRING_PANEL, "", 358, 58, "System", 10, D::Popup,
         {
             {0, K::Label, "发送：", 0, 6, 42, 8},
             {0, K::Line, "", 0, 16, 350, 1},
             {SP::IDC_ASCII, K::RadioButton, "ASCII", 19, 20, 33, 10, S::GroupStart},
             {SP::IDC_HEX, K::RadioButton, "HEX二进制(字节间用空格分开)", 89, 20, 138, 10},
             {SP::IDC_CHECKSUM, K::Button, "校  验", 262, 18, 39, 13, S::GroupStart},
             {0, K::Line, "", 0, 31, 350, 1},
             {SP::IDC_SEND_TEXT, K::Edit, "", 0, 37, 350, 12, S::Multiline | S::AutoHScroll},
         }},
        {IDD_MODBUS_PANEL, "", 358, 56, "System", 10, D::Popup | D::NoTaskbar,
         {
             {0, K::Label, "发送(十进制)：", 0, 5, 87, 8},
             {MP::IDC_RTU, K::RadioButton, "RTU帧", 107, 4, 60, 10, S::GroupStart},
             {MP::IDC_ASCII, K::RadioButton, "ASCII帧", 174, 4, 60, 10},
             {0, K::Line, "", 0, 16, 350, 1},
             {0, K::Label, "站号", 4, 22, 23, 8, S::Centered | S::GroupStart},
             {MP::IDC_STATION, K::Edit, "", 31, 20, 26, 12, S::DigitsOnly},
             {0, K::Label, "功能码", 70, 22, 37, 8, S::Centered},
             {MP::IDC_FUNCTION, K::ComboBox, "", 107, 20, 48, 42, S::Sorted, {" 1", " 2", " 3", " 4", " 5", " 6"}},
             {0, K::Label, "寄存器地址", 166, 22, 53, 8, S::Centered},
             {MP::IDC_ADDRESS, K::Edit, "", 224, 20, 26, 12, S::DigitsOnly},
             {MP::IDC_QUANTITY_LABEL, K::Label, "数量", 263, 22, 41, 8, S::Centered},
             {MP::IDC_QUANTITY, K::Edit, "", 306, 20, 26, 12, S::DigitsOnly},
             {0, K::Label, "数据帧", 3, 39, 23, 8},
             {MP::IDC_FRAME_TEXT, K::Edit, "", 31, 37, 315, 12, S::ReadOnly},
         }},
        {IDD_CHECKSUM, "校验码计算", 315, 115, "System", 10, kModalDialog,
         {
             {IDOK, K::Button, "退   出", 201, 94, 50, 14, S::DefaultButton | S::GroupStart},
             {C::IDC_METHOD, K::ComboBox, "", 56, 7, 252, 60, S::Sorted},
             {C::IDC_COMPUTE, K::Button, "计  算", 69, 94, 50, 14},
             {C::IDC_INPUT, K::Edit, "", 56, 29, 252, 12},
             {C::IDC_CHECK_CODE, K::Edit, "", 56, 56, 252, 13, S::ReadOnly},
             {0, K::Label, "校验方式：", 7, 9, 48, 8},
             {0, K::Label, "校验字节：", 7, 30, 48, 8},
             {0, K::Label, "校验码：", 7, 58, 48, 8},
         }},
        {IDD_CONVERSION, "数据转换", 192, 115, "System", 12, kModalDialog,
         {
             {CV::IDC_COMPUTE, K::Button, "计  算", 19, 94, 50, 14, S::DefaultButton | S::GroupStart},
             {CV::IDC_HEX, K::Edit, "", 93, 7, 82, 15, S::Uppercase},
             {CV::IDC_ORDER, K::ComboBox, "", 93, 44, 81, 60},
             {CV::IDC_TYPE, K::ComboBox, "", 93, 28, 81, 60},
             {IDOK, K::Button, "退  出", 105, 94, 50, 14},
             {CV::IDC_RESULT, K::Edit, "", 93, 68, 82, 15},
             {0, K::Label, "十六进数据", 7, 9, 80, 10},
             {0, K::Line, "", 0, 26, 192, 1},
             {0, K::Label, "转换数据类型", 7, 30, 80, 10},
             {0, K::Label, "数据字节顺序", 7, 46, 80, 10},
             {0, K::Line, "", 0, 63, 192, 1},
             {0, K::Label, "转换后数值", 7, 70, 80, 10},
         }},
    };
    return templates;
}

const std::vector<MenuTemplate>& Menus() {
    static const std::vector<MenuTemplate> menus = {
        {IDR_EDIT_MENU, "编辑(&E)",
         {
             {ID_EDIT_UNDO, "撤消(&U)\tCtrl+Z"},
             {0, ""},
             {ID_EDIT_CUT, "剪切(&T)\tCtrl+X"},
             {ID_EDIT_COPY, "复制(&C)\tCtrl+C"},
             {ID_EDIT_PASTE, "粘贴(&P)\tCtrl+V"},
             {0, ""},
             {ID_HEX_TO_DECIMAL, "十六进制 ----> 十进制"},
             {ID_MODBUS_ASCII_TO_DECIMAL, "Modbus ASCII ----> 十进制"},
         }},
    };
    return menus;
}
// clang-format on

}  // namespace

const ControlTemplate* DialogTemplate::Find(int controlId) const {
    if (controlId == 0) return nullptr;
    for (const ControlTemplate& control : controls)
        if (control.id == controlId) return &control;
    return nullptr;
}

const DialogTemplate* FindDialogTemplate(int dialogId) {
    for (const DialogTemplate& t : Templates())
        if (t.id == dialogId) return &t;
    return nullptr;
}

const MenuTemplate* FindMenuTemplate(int menuId) {
    for (const MenuTemplate& m : Menus())
        if (m.id == menuId) return &m;
    return nullptr;
}

std::string_view LoadResourceString(int stringId) {
    return stringId == IDS_ABOUTBOX ? std::string_view("关于 Talvenor(&A)...") : std::string_view();
}

std::vector<int> DialogTemplateIds() {
    std::vector<int> ids;
    for (const DialogTemplate& t : Templates()) ids.push_back(t.id);
    std::sort(ids.begin(), ids.end());
    return ids;
}
