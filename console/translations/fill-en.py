#!/usr/bin/env python3
# Fills the English translations of tessiva_en.ts from the table below (run
# after lupdate has added new source texts; texts missing here stay unfinished).
import html, re, sys, os

EN = {
    "【内容过长，格式化输出已在 %1 个字符处截断】": "[Too long: the formatted output was cut at %1 characters]",
    "【内容过长，只显示前 %1 个字符】": "[Too long: only the first %1 characters are shown]",
    "【内容过长，只显示前 %1 个字节】": "[Too long: only the first %1 bytes are shown]",
    "图片 (*.jpg *.JPG *.png *.PNG);;所有文件 (*)": "Pictures (*.jpg *.JPG *.png *.PNG);;All files (*)",
    "是": "yes",
    "到达时间": "Arrival time",
    "主题": "Topic",
    "保留": "Retain",
    "重复": "Dup",
    "报文标识": "Packet id",
    "字节数": "Bytes",
    "添加MQTT服务器连接": "Add MQTT broker connection",
    "请输入自定义名称": "Enter a name of your choice",
    "MQTT服务器地址": "MQTT broker address",
    "MQTT服务器的端口号": "MQTT broker port",
    "登录用户名": "User name",
    "登录密码": "Password",
    "确定": "OK",
    "使用 TLS 加密连接": "Use TLS encryption",
    "CA 证书文件（留空则用系统证书）": "CA certificate file (empty: the system's certificates)",
    "客户端证书文件（可选）": "Client certificate file (optional)",
    "客户端私钥文件（可选）": "Client private key file (optional)",
    "校验服务器主机名": "Check the broker's host name",
    "输入错误": "Input error",
    "请输入服务器地址": "Please enter the broker address",
    "请输入正确的端口号": "Please enter a valid port number",
    "保存完成": "Saved",
    "添加订阅主题": "Add subscription topic",
    "请输入需订阅的主题": "Topic to subscribe to",
    "请输入需要订阅的主题": "Please enter the topic to subscribe to",
    "图片打印": "Print picture",
    "图片的宽度": "Picture width",
    "小票纸张宽度": "Receipt paper width",
    "标签宽度": "Label width",
    "标签高度": "Label height",
    "票据ESC_POS": "Receipt ESC_POS",
    "标签TSPL": "Label TSPL",
    "消息记录": "Message log",
    "按主题过滤（可用 + 和 # 通配符）": "Filter by topic (wildcards + and # allowed)",
    "按文本过滤": "Filter by text",
    "导出为 JSON Lines": "Export as JSON Lines",
    "文本": "Text",
    "十六进制": "Hex",
    "GBK 文本": "GBK text",
    "已记录 %1 条，显示 %2 条，因超出 %3 条上限已丢弃 %4 条":
        "%1 logged, %2 shown, %4 dropped (only the last %3 are kept)",
    "【不是有效的 UTF-8，无法解码的字节显示为 \ufffd】": "[Not valid UTF-8: bytes that can't be decoded are shown as \ufffd]",
    "打印预览": "Print preview",
    "导出消息记录": "Export message log",
    "JSON Lines (*.jsonl);;所有文件 (*)": "JSON Lines (*.jsonl);;All files (*)",
    "无法写入 %1": "Unable to write to %1",
    "已导出 %1 条消息": "%1 messages exported",
    "添加服务器连接": "Add broker connection",
    "清除显示": "Clear display",
    "消息显示区": "Message display",
    "发布消息": "Publish",
    "清空": "Clear",
    "切换小票模式": "Receipt mode",
    "切换标签模式": "Label mode",
    "GBK编码": "GBK",
    "UTF8编码": "UTF-8",
    "切刀控制": "Cutter",
    "蜂鸣器": "Buzzer",
    "票据示例数据": "Sample receipt",
    "标签示例数据": "Sample label",
    "打印图片": "Print picture",
    "输入需要发布的主题": "Topic to publish to",
    "未连接": "Not connected",
    "设备号": "Serial",
    "打印任务的 dvsno（设备序列号）": "The print task's dvsno (device serial number)",
    "新任务号": "New task id",
    "每个打印任务使用新生成的 task_id": "Give every print task a newly made task_id",
    "连接服务器": "Connect",
    "断开连接": "Disconnect",
    "服务器属性": "Broker properties",
    "删除服务器档案": "Delete broker profile",
    "订阅": "Subscribe",
    "取消订阅": "Unsubscribe",
    "删除主题": "Delete topic",
    "服务器不接受此协议版本（返回码 1）": "the broker does not accept this protocol version (return code 1)",
    "服务器不接受此客户端标识符（返回码 2）": "the broker does not accept this client identifier (return code 2)",
    "MQTT 服务不可用（返回码 3）": "the MQTT service is unavailable (return code 3)",
    "用户名或密码错误（返回码 4）": "wrong user name or password (return code 4)",
    "客户端未获授权（返回码 5）": "the client is not authorised (return code 5)",
    "连接失败 %1": "Connection failed %1",
    "无法连接 %1：%2": "Cannot connect to %1: %2",
    "正在连接 %1": "Connecting to %1",
    "正在重新连接 %1": "Reconnecting to %1",
    "已连接 %1": "Connected to %1",
    "连接已断开 %1": "Connection lost %1",
    "连接被拒绝 %1": "Refused by %1",
    "服务器 %1 拒绝了连接：%2": "The broker %1 refused the connection: %2",
    "未连接MQTT服务器": "Not connected to an MQTT broker",
    "未输入发布的主题": "No topic to publish to",
    "未输入消息的主体": "No message body",
}
# Texts that read the same in both languages.
SAME = {"Tessiva v1.0", "TEXT", "JSON", "QOS 0", "QOS 1", "QOS 2", "576", "50", "QoS"}

path = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "tessiva_en.ts")
ts = open(path, encoding="utf-8").read()

def fill(m):
    src = html.unescape(m.group(1))
    en = EN.get(src, src if src in SAME else None)
    if en is None:
        return m.group(0)
    return "<source>%s</source>\n        <translation>%s</translation>" % (m.group(1), html.escape(en, quote=False))

ts = re.sub(r"<source>(.*?)</source>\s*<translation[^>]*>.*?</translation>", fill, ts, flags=re.S)
open(path, "w", encoding="utf-8").write(ts)
left = re.findall(r"<source>(.*?)</source>\s*<translation type=\"unfinished\"", ts, flags=re.S)
for s in left:
    print("unfinished:", html.unescape(s))
