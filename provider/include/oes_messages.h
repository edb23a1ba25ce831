// The message texts of the OES result codes.
#pragma once

#include <cstdint>
#include <string_view>

#include "oes_codes.h"

namespace varo::oes {

struct Message {
  uint64_t code;
  std::string_view text;  // UTF-8
};

// Every listed code with its text, in ascending order of code.
inline constexpr Message kMessages[] = {
    {16, "操作取消"},
    {4370, "错误的电子签章数据格式"},
    {4371, "错误的参数"},
    {4373, "错误的电子印章数据格式"},
    {4374, "USBKEY中不存在指定的印章数据"},
    {4375, "不支持的算法"},
    {4376, "发生原因未知的内部错误"},
    {4377, "加载USBKEY库失败"},
    {4378, "获取证书失败"},
    {4379, "签章失败"},
    {4380, "所宣称的签章时间与实际时间偏差过大"},
    {4381, "签章后文档信息发生改变"},
    {4382, "文档属性与签章时不同"},
    {4383, "USBKEY的PIN码长度不小于5"},
    {4384, "签章时间不在印章有效期内"},
    {4386, "签名验证失败，被签名数据与签名值不匹配"},
    {4387, "签章证书不被信赖"},
    {4388, "当前证书不在有效期内"},
    {4389, "当前CRL文件非可信CA颁发"},
    {4390, "当前证书用途不包含数字签名"},
    {4391, "证书在CRL列表中，已经被吊销"},
    {4392, "当前证书不在签章人证书列表中"},
    {4393, "电子签章数据版本错误"},
    {4394, "错误的数字证书格式"},
    {4396, "签章设备PIN码错误"},
    {4397, "签章设备内部错误"},
    {4398, "无法连接本地签章服务，请确认本机签章服务程序已启动"},
    {4399, "本地服务未返回任何数据"},
    {4400, "没有可用的印章"},
    {4401, "收到的数据格式错误"},
    {4402, "缺少关键文件，重新安装本软件"},
    {4403, "获取印章信息失败"},
    {4404, "验证签名成功，文档未被篡改，但联机验证印章有效性失败"},
    {4405, "当前签章设备中的证书与印章证书不匹配"},
    {4406, "文档属性和签章时不一致"},
    {4407, "印章状态异常，请联系管理员"},
    {4408, "签章服务器发生错误"},
    {4410, "签章客户端是否未启动？"},
    {4411, "当前印章尚未在印章系统中注册"},
    {4419, "印章制作人证书不被信赖"},
};

// Text for codes outside the table.
inline constexpr std::string_view kUnknownMessage = "未知的错误类型";

// The message of code, or kUnknownMessage.
std::string_view messageFor(uint64_t code);

}  // namespace varo::oes
