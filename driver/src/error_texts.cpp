// The messages of result codes: the GM/T 0016 codes of the vendor library
// and the driver's own codes, as tables.
#include <cstring>
#include <iterator>

#include "VaroDeviceBase_LM_GM3000.h"
#include "driver_codes.h"

namespace {

// Texts of the GM/T 0016 codes 0x0A000003 to 0x0A000032, in code order.
constexpr unsigned long kFirstSkfCode = 0x0A000003;
constexpr const char* kSkfTexts[] = {
    "不支持的服务",  // 0x0A000003
    "文件操作错误",
    "无效的句柄",  // 0x0A000005
    "无效的参数",
    "读文件错误",
    "写文件错误",
    "名称长度错误",
    "密钥用途错误",  // 0x0A00000A
    "模的长度错误",
    "未初始化",
    "对象错误",
    "内存错误",
    "超时",  // 0x0A00000F
    "输入数据长度错误",
    "输入数据错误",
    "生成随机数错误",
    "HASH对象错误",
    "HASH运算错误",
    "产生RSA密钥错误",
    "RSA密钥模长错误",
    "CSP服务导入公钥错误",
    "RSA加密错误",
    "RSA解密错误",  // 0x0A000019
    "HASH值不相等",
    "未发现密钥",
    "未发现证书",
    "对象未导出",
    "解密时做补丁错误",
    "MAC长度错误",  // 0x0A00001F
    "缓冲区不足",
    "密钥类型错误",
    "无事件错误",
    "设备已移除",
    "PIN错误",  // 0x0A000024
    "PIN锁死",
    "PIN无效",
    "PIN长度错误",
    "用户已经登录",
    "没有初始化用户口令",
    "PIN类型错误",  // 0x0A00002A
    "应用名称无效",
    "应用已经存在",
    "用户没有登录",
    "应用不存在",
    "文件已经存在",  // 0x0A00002F
    "存储空间不足",
    "文件不存在",              // 0x0A000031
    "已达到最大可管理容器数",  // 0x0A000032
};
static_assert(std::size(kSkfTexts) == 0x0A000032 - 0x0A000003 + 1, "one text per SKF code");

// Texts of the driver's codes 0x1000 to 0x1012; 0x1000 and the unassigned
// 0x100A to 0x100F are empty.
constexpr int kFirstDriverCode = 0x1000;
constexpr const char* kDriverTexts[] = {
    "",                               // 0x1000
    "没有发现设备",                   // 0x1001
    "无法打开设备",                   // 0x1002
    "设备中无电子印章应用",           // 0x1003
    "设备中无指定类型的证书容器",     // 0x1004
    "设备中无指定类型的证书",         // 0x1005
    "请确保只有一个设备与电脑连接",   // 0x1006
    "设备中无印章数据",               // 0x1007
    "在设备中创建文件或写文件失败",   // 0x1008
    "设备中无指定索引的印章",         // 0x1009
    "", "", "", "", "", "",           // 0x100A to 0x100F
    "读取指定索引印章时发生错误",     // 0x1010
    "符合条件的证书超过一个",         // 0x1011
    "USBKEY中不存在指定的证书",       // 0x1012
};
static_assert(std::size(kDriverTexts) == 0x1012 - kFirstDriverCode + 1, "one text per code");

}  // namespace

QString VaroDeviceBase_LM_GM3000::GetSkfError(unsigned long code) {
  if (code < kFirstSkfCode || code - kFirstSkfCode >= std::size(kSkfTexts)) return QString();
  return QString::fromUtf8(kSkfTexts[code - kFirstSkfCode]);
}

void VaroDeviceBase_LM_GM3000::GetErrorMsg(int code, char* out) {
  if (!out) return;
  // A negative code widens with its sign and so matches no SKF code.
  QString text = GetSkfError(static_cast<unsigned long>(static_cast<long>(code)));
  if (text.isEmpty() && code >= kFirstDriverCode &&
      code - kFirstDriverCode < static_cast<int>(std::size(kDriverTexts)))
    text = QString::fromUtf8(kDriverTexts[code - kFirstDriverCode]);
  const QByteArray utf8 = text.toUtf8();
  // The longest text is 42 bytes; callers give at least 43.
  std::memcpy(out, utf8.constData(), static_cast<size_t>(utf8.size()) + 1);
}
