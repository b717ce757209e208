<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en" sourcelanguage="zh_CN">
<context>
    <name>FormatJson</name>
    <message>
        <source>【内容过长，格式化输出已在 %1 个字符处截断】</source>
        <translation>[Too long: the formatted output was cut at %1 characters]</translation>
    </message>
</context>
<context>
    <name>MessageLog</name>
    <message>
        <source>【内容过长，只显示前 %1 个字符】</source>
        <translation>[Too long: only the first %1 characters are shown]</translation>
    </message>
    <message>
        <source>【内容过长，只显示前 %1 个字节】</source>
        <translation>[Too long: only the first %1 bytes are shown]</translation>
    </message>
</context>
<context>
    <name>SFunc</name>
    <message>
        <source>图片 (*.jpg *.JPG *.png *.PNG);;所有文件 (*)</source>
        <translation>Pictures (*.jpg *.JPG *.png *.PNG);;All files (*)</translation>
    </message>
</context>
<context>
    <name>TCloseGlyph</name>
    <message>
        <source>关闭</source>
        <translation>Close</translation>
    </message>
</context>
<context>
    <name>TDitheredPreview</name>
    <message>
        <source>打印预览</source>
        <translation>Print preview</translation>
    </message>
    <message>
        <source>%1 × %2 点</source>
        <translation>%1 × %2 dots</translation>
    </message>
    <message>
        <source>放入发送区</source>
        <translation>Put in the send area</translation>
    </message>
    <message>
        <source>返回</source>
        <translation>Back</translation>
    </message>
</context>
<context>
    <name>TMessageTableModel</name>
    <message>
        <source>是</source>
        <translation>yes</translation>
    </message>
    <message>
        <source>到达时间</source>
        <translation>Arrival time</translation>
    </message>
    <message>
        <source>主题</source>
        <translation>Topic</translation>
    </message>
    <message>
        <source>保留</source>
        <translation>Retain</translation>
    </message>
    <message>
        <source>重复</source>
        <translation>Dup</translation>
    </message>
    <message>
        <source>报文标识</source>
        <translation>Packet id</translation>
    </message>
    <message>
        <source>字节数</source>
        <translation>Bytes</translation>
    </message>
</context>
<context>
    <name>TPreviewPages</name>
    <message>
        <source>没有可打印的页面</source>
        <translation>No pages to print</translation>
    </message>
</context>
<context>
    <name>Tadd_server</name>
    <message>
        <source>添加MQTT服务器连接</source>
        <translation>Add MQTT broker connection</translation>
    </message>
    <message>
        <source>请输入自定义名称</source>
        <translation>Enter a name of your choice</translation>
    </message>
    <message>
        <source>MQTT服务器地址</source>
        <translation>MQTT broker address</translation>
    </message>
    <message>
        <source>MQTT服务器的端口号</source>
        <translation>MQTT broker port</translation>
    </message>
    <message>
        <source>登录用户名</source>
        <translation>User name</translation>
    </message>
    <message>
        <source>登录密码</source>
        <translation>Password</translation>
    </message>
    <message>
        <source>确定</source>
        <translation>OK</translation>
    </message>
    <message>
        <source>使用 TLS 加密连接</source>
        <translation>Use TLS encryption</translation>
    </message>
    <message>
        <source>CA 证书文件（留空则用系统证书）</source>
        <translation>CA certificate file (empty: the system's certificates)</translation>
    </message>
    <message>
        <source>客户端证书文件（可选）</source>
        <translation>Client certificate file (optional)</translation>
    </message>
    <message>
        <source>客户端私钥文件（可选）</source>
        <translation>Client private key file (optional)</translation>
    </message>
    <message>
        <source>校验服务器主机名</source>
        <translation>Check the broker's host name</translation>
    </message>
    <message>
        <source>输入错误</source>
        <translation>Input error</translation>
    </message>
    <message>
        <source>请输入服务器地址</source>
        <translation>Please enter the broker address</translation>
    </message>
    <message>
        <source>请输入正确的端口号</source>
        <translation>Please enter a valid port number</translation>
    </message>
    <message>
        <source>保存完成</source>
        <translation>Saved</translation>
    </message>
</context>
<context>
    <name>Tadd_topic</name>
    <message>
        <source>添加订阅主题</source>
        <translation>Add subscription topic</translation>
    </message>
    <message>
        <source>请输入需订阅的主题</source>
        <translation>Topic to subscribe to</translation>
    </message>
    <message>
        <source>确定</source>
        <translation>OK</translation>
    </message>
    <message>
        <source>输入错误</source>
        <translation>Input error</translation>
    </message>
    <message>
        <source>请输入需要订阅的主题</source>
        <translation>Please enter the topic to subscribe to</translation>
    </message>
</context>
<context>
    <name>Tbitmap_print</name>
    <message>
        <source>图片打印</source>
        <translation>Print picture</translation>
    </message>
    <message>
        <source>图片的宽度</source>
        <translation>Picture width</translation>
    </message>
    <message>
        <source>小票纸张宽度</source>
        <translation>Receipt paper width</translation>
    </message>
    <message>
        <source>576</source>
        <translation>576</translation>
    </message>
    <message>
        <source>标签宽度</source>
        <translation>Label width</translation>
    </message>
    <message>
        <source>50</source>
        <translation>50</translation>
    </message>
    <message>
        <source>标签高度</source>
        <translation>Label height</translation>
    </message>
    <message>
        <source>票据ESC_POS</source>
        <translation>Receipt ESC_POS</translation>
    </message>
    <message>
        <source>标签TSPL</source>
        <translation>Label TSPL</translation>
    </message>
    <message>
        <source>确定</source>
        <translation>OK</translation>
    </message>
    <message>
        <source>缩放方式</source>
        <translation>Scaling</translation>
    </message>
    <message>
        <source>最近邻</source>
        <translation>Nearest neighbour</translation>
    </message>
    <message>
        <source>区域平均</source>
        <translation>Area average</translation>
    </message>
    <message>
        <source>抖动方式</source>
        <translation>Dithering</translation>
    </message>
    <message>
        <source>Floyd-Steinberg</source>
        <translation>Floyd-Steinberg</translation>
    </message>
    <message>
        <source>Floyd-Steinberg 蛇形</source>
        <translation>Floyd-Steinberg serpentine</translation>
    </message>
    <message>
        <source>Atkinson</source>
        <translation>Atkinson</translation>
    </message>
    <message>
        <source>Bayer 8×8 有序</source>
        <translation>Bayer 8×8 ordered</translation>
    </message>
    <message>
        <source>阈值（文字、标志、条码）</source>
        <translation>Threshold (text, logos, codes)</translation>
    </message>
    <message>
        <source>黑白阈值</source>
        <translation>Threshold</translation>
    </message>
    <message>
        <source>128</source>
        <translation>128</translation>
    </message>
    <message>
        <source>伽马</source>
        <translation>Gamma</translation>
    </message>
    <message>
        <source>无</source>
        <translation>None</translation>
    </message>
    <message>
        <source>分段行数</source>
        <translation>Rows per band</translation>
    </message>
    <message>
        <source>0</source>
        <translation>0</translation>
    </message>
    <message>
        <source>转换后预览</source>
        <translation>Preview after converting</translation>
    </message>
    <message>
        <source>正在转换图片…</source>
        <translation>Converting the picture…</translation>
    </message>
    <message>
        <source>取消</source>
        <translation>Cancel</translation>
    </message>
</context>
<context>
    <name>Tinspector</name>
    <message>
        <source>消息记录</source>
        <translation>Message log</translation>
    </message>
    <message>
        <source>按主题过滤（可用 + 和 # 通配符）</source>
        <translation>Filter by topic (wildcards + and # allowed)</translation>
    </message>
    <message>
        <source>按文本过滤</source>
        <translation>Filter by text</translation>
    </message>
    <message>
        <source>导出为 JSON Lines</source>
        <translation>Export as JSON Lines</translation>
    </message>
    <message>
        <source>文本</source>
        <translation>Text</translation>
    </message>
    <message>
        <source>十六进制</source>
        <translation>Hex</translation>
    </message>
    <message>
        <source>GBK 文本</source>
        <translation>GBK text</translation>
    </message>
    <message>
        <source>已记录 %1 条，显示 %2 条，因超出 %3 条上限已丢弃 %4 条</source>
        <translation>%1 logged, %2 shown, %4 dropped (only the last %3 are kept)</translation>
    </message>
    <message>
        <source>【不是有效的 UTF-8，无法解码的字节显示为 �】</source>
        <translation>[Not valid UTF-8: bytes that can't be decoded are shown as �]</translation>
    </message>
    <message>
        <source>打印预览</source>
        <translation>Print preview</translation>
    </message>
    <message>
        <source>导出消息记录</source>
        <translation>Export message log</translation>
    </message>
    <message>
        <source>JSON Lines (*.jsonl);;所有文件 (*)</source>
        <translation>JSON Lines (*.jsonl);;All files (*)</translation>
    </message>
    <message>
        <source>无法写入 %1</source>
        <translation>Unable to write to %1</translation>
    </message>
    <message>
        <source>已导出 %1 条消息</source>
        <translation>%1 messages exported</translation>
    </message>
</context>
<context>
    <name>Tmain</name>
    <message>
        <source>Tessiva v1.0</source>
        <translation>Tessiva v1.0</translation>
    </message>
    <message>
        <source>添加服务器连接</source>
        <translation>Add broker connection</translation>
    </message>
    <message>
        <source>添加订阅主题</source>
        <translation>Add subscription topic</translation>
    </message>
    <message>
        <source>TEXT</source>
        <translation>TEXT</translation>
    </message>
    <message>
        <source>JSON</source>
        <translation>JSON</translation>
    </message>
    <message>
        <source>清除显示</source>
        <translation>Clear display</translation>
    </message>
    <message>
        <source>消息显示区</source>
        <translation>Message display</translation>
    </message>
    <message>
        <source>QOS 0</source>
        <translation>QOS 0</translation>
    </message>
    <message>
        <source>QOS 1</source>
        <translation>QOS 1</translation>
    </message>
    <message>
        <source>QOS 2</source>
        <translation>QOS 2</translation>
    </message>
    <message>
        <source>发布消息</source>
        <translation>Publish</translation>
    </message>
    <message>
        <source>清空</source>
        <translation>Clear</translation>
    </message>
    <message>
        <source>切换小票模式</source>
        <translation>Receipt mode</translation>
    </message>
    <message>
        <source>切换标签模式</source>
        <translation>Label mode</translation>
    </message>
    <message>
        <source>GBK编码</source>
        <translation>GBK</translation>
    </message>
    <message>
        <source>UTF8编码</source>
        <translation>UTF-8</translation>
    </message>
    <message>
        <source>切刀控制</source>
        <translation>Cutter</translation>
    </message>
    <message>
        <source>蜂鸣器</source>
        <translation>Buzzer</translation>
    </message>
    <message>
        <source>票据示例数据</source>
        <translation>Sample receipt</translation>
    </message>
    <message>
        <source>标签示例数据</source>
        <translation>Sample label</translation>
    </message>
    <message>
        <source>打印图片</source>
        <translation>Print picture</translation>
    </message>
    <message>
        <source>输入错误</source>
        <translation>Input error</translation>
    </message>
    <message>
        <source>输入需要发布的主题</source>
        <translation>Topic to publish to</translation>
    </message>
    <message>
        <source>未连接</source>
        <translation>Not connected</translation>
    </message>
    <message>
        <source>消息记录</source>
        <translation>Message log</translation>
    </message>
    <message>
        <source>设备号</source>
        <translation>Serial</translation>
    </message>
    <message>
        <source>打印任务的 dvsno（设备序列号）</source>
        <translation>The print task's dvsno (device serial number)</translation>
    </message>
    <message>
        <source>新任务号</source>
        <translation>New task id</translation>
    </message>
    <message>
        <source>每个打印任务使用新生成的 task_id</source>
        <translation>Give every print task a newly made task_id</translation>
    </message>
    <message>
        <source>连接服务器</source>
        <translation>Connect</translation>
    </message>
    <message>
        <source>断开连接</source>
        <translation>Disconnect</translation>
    </message>
    <message>
        <source>服务器属性</source>
        <translation>Broker properties</translation>
    </message>
    <message>
        <source>删除服务器档案</source>
        <translation>Delete broker profile</translation>
    </message>
    <message>
        <source>订阅</source>
        <translation>Subscribe</translation>
    </message>
    <message>
        <source>取消订阅</source>
        <translation>Unsubscribe</translation>
    </message>
    <message>
        <source>删除主题</source>
        <translation>Delete topic</translation>
    </message>
    <message>
        <source>服务器不接受此协议版本（返回码 1）</source>
        <translation>the broker does not accept this protocol version (return code 1)</translation>
    </message>
    <message>
        <source>服务器不接受此客户端标识符（返回码 2）</source>
        <translation>the broker does not accept this client identifier (return code 2)</translation>
    </message>
    <message>
        <source>MQTT 服务不可用（返回码 3）</source>
        <translation>the MQTT service is unavailable (return code 3)</translation>
    </message>
    <message>
        <source>用户名或密码错误（返回码 4）</source>
        <translation>wrong user name or password (return code 4)</translation>
    </message>
    <message>
        <source>客户端未获授权（返回码 5）</source>
        <translation>the client is not authorised (return code 5)</translation>
    </message>
    <message>
        <source>连接失败 %1</source>
        <translation>Connection failed %1</translation>
    </message>
    <message>
        <source>无法连接 %1：%2</source>
        <translation>Cannot connect to %1: %2</translation>
    </message>
    <message>
        <source>正在连接 %1</source>
        <translation>Connecting to %1</translation>
    </message>
    <message>
        <source>正在重新连接 %1</source>
        <translation>Reconnecting to %1</translation>
    </message>
    <message>
        <source>已连接 %1</source>
        <translation>Connected to %1</translation>
    </message>
    <message>
        <source>连接已断开 %1</source>
        <translation>Connection lost %1</translation>
    </message>
    <message>
        <source>连接被拒绝 %1</source>
        <translation>Refused by %1</translation>
    </message>
    <message>
        <source>服务器 %1 拒绝了连接：%2</source>
        <translation>The broker %1 refused the connection: %2</translation>
    </message>
    <message>
        <source>未连接MQTT服务器</source>
        <translation>Not connected to an MQTT broker</translation>
    </message>
    <message>
        <source>未输入发布的主题</source>
        <translation>No topic to publish to</translation>
    </message>
    <message>
        <source>未输入消息的主体</source>
        <translation>No message body</translation>
    </message>
    <message>
        <source>打印预览</source>
        <translation>Print preview</translation>
    </message>
</context>
<context>
    <name>Tprint_preview</name>
    <message>
        <source>打印预览</source>
        <translation>Print preview</translation>
    </message>
    <message>
        <source>打印机</source>
        <translation>Printer</translation>
    </message>
    <message>
        <source>%1（%2 点）</source>
        <translation>%1 (%2 dots)</translation>
    </message>
    <message>
        <source>小票宽度</source>
        <translation>Receipt width</translation>
    </message>
    <message>
        <source>80 mm（576 点）</source>
        <translation>80 mm (576 dots)</translation>
    </message>
    <message>
        <source>58 mm（384 点）</source>
        <translation>58 mm (384 dots)</translation>
    </message>
    <message>
        <source>缩放</source>
        <translation>Zoom</translation>
    </message>
    <message>
        <source>50%</source>
        <translation>50%</translation>
    </message>
    <message>
        <source>100%</source>
        <translation>100%</translation>
    </message>
    <message>
        <source>200%</source>
        <translation>200%</translation>
    </message>
    <message>
        <source>适合宽度</source>
        <translation>Fit width</translation>
    </message>
    <message>
        <source>指令清单</source>
        <translation>Command listing</translation>
    </message>
    <message>
        <source>检查结果</source>
        <translation>Findings</translation>
    </message>
    <message>
        <source>第 %1/%2 页</source>
        <translation>Page %1/%2</translation>
    </message>
    <message>
        <source>任务 %1</source>
        <translation>Job %1</translation>
    </message>
    <message>
        <source>%1 × %2 点</source>
        <translation>%1 × %2 dots</translation>
    </message>
    <message>
        <source>%1 份</source>
        <translation>%1 copies</translation>
    </message>
    <message>
        <source>预览失败：%1</source>
        <translation>Preview failed: %1</translation>
    </message>
    <message>
        <source>消息为空，没有可预览的内容</source>
        <translation>The message is empty; there is nothing to preview</translation>
    </message>
    <message>
        <source>不是打印任务信封：消息不以“{”开头，没有可预览的打印指令</source>
        <translation>Not a print task envelope: the message does not start with "{"; there are no printer commands to preview</translation>
    </message>
    <message>
        <source>没有发现问题</source>
        <translation>No problems found</translation>
    </message>
    <message>
        <source>%1 页</source>
        <translation>%1 page(s)</translation>
    </message>
    <message>
        <source>%1 个错误</source>
        <translation>%1 error(s)</translation>
    </message>
    <message>
        <source>%1 个警告</source>
        <translation>%1 warning(s)</translation>
    </message>
</context>
</TS>
