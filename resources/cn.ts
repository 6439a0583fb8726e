<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="zh_CN">
<context>
    <name>DeviceInfoDialog</name>
    <message>
        <source>device name</source>
        <translation>设备名：</translation>
    </message>
    <message>
        <source>DeviceInfo</source>
        <translation>设备信息</translation>
    </message>
    <message>
        <source>OK</source>
        <translation>确定</translation>
    </message>
    <message>
        <source>SN</source>
        <translation>序列号：</translation>
    </message>
    <message>
        <source>TextLabel</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>PM2_5</name>
    <message>
        <source>&lt;html&gt;&lt;head/&gt;&lt;body&gt;&lt;p&gt;&lt;span style=&quot; font-size:11pt;&quot;&gt;mg/m&lt;/span&gt;&lt;span style=&quot; font-size:11pt; vertical-align:super;&quot;&gt;3&lt;/span&gt;&lt;/p&gt;&lt;/body&gt;&lt;/html&gt;</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>&lt;html&gt;&lt;head/&gt;&lt;body&gt;&lt;p&gt;&lt;span style=&quot; font-size:11pt;&quot;&gt;ug/m&lt;/span&gt;&lt;span style=&quot; font-size:11pt; vertical-align:super;&quot;&gt;3  &lt;/span&gt;&lt;/p&gt;&lt;/body&gt;&lt;/html&gt;</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>About Vostral</source>
        <translation>关于Vostral</translation>
    </message>
    <message>
        <source>About Software</source>
        <translation>关于软件</translation>
    </message>
    <message>
        <source>Attention</source>
        <translation>注意</translation>
    </message>
    <message>
        <source>Binary</source>
        <translation>二进制文件</translation>
    </message>
    <message>
        <source>Chinese</source>
        <translation>汉语</translation>
    </message>
    <message>
        <source>Clear history data</source>
        <translation>清除历史数据</translation>
    </message>
    <message>
        <source>Clearing history data needs the serial connection.</source>
        <translation>清除历史数据需要串口连接。</translation>
    </message>
    <message>
        <source>Clearing success</source>
        <translation>清除成功</translation>
    </message>
    <message>
        <source>Collect</source>
        <translation>采集</translation>
    </message>
    <message>
        <source>Collect historical data</source>
        <translation>采集历史数据</translation>
    </message>
    <message>
        <source>Continue reading the current value</source>
        <translation>继续读取当前值</translation>
    </message>
    <message>
        <source>Current Data</source>
        <translation>实时数据</translation>
    </message>
    <message>
        <source>DeviceInfo</source>
        <translation>设备信息</translation>
    </message>
    <message>
        <source>Display</source>
        <translation>显示</translation>
    </message>
    <message>
        <source>Display all</source>
        <translation>全部显示</translation>
    </message>
    <message>
        <source>English</source>
        <translation>英语</translation>
    </message>
    <message>
        <source>Examine</source>
        <translation>缩放</translation>
    </message>
    <message>
        <source>Execl files (*.xls)</source>
        <translation>Execl文件 (*.xls)</translation>
    </message>
    <message>
        <source>Exit</source>
        <translation>退出</translation>
    </message>
    <message>
        <source>File</source>
        <translation>文件</translation>
    </message>
    <message>
        <source>File open failed!</source>
        <translation>文件打开失败！</translation>
    </message>
    <message>
        <source>Finish reading history data.</source>
        <translation>历史数据读取完成。</translation>
    </message>
    <message>
        <source>Formaldehyde</source>
        <translation>甲醛</translation>
    </message>
    <message>
        <source>Help</source>
        <translation>帮助</translation>
    </message>
    <message>
        <source>History Data</source>
        <translation>历史数据</translation>
    </message>
    <message>
        <source>Language</source>
        <translation>语言</translation>
    </message>
    <message>
        <source>Nodisplay</source>
        <translation>取消显示</translation>
    </message>
    <message>
        <source>Vostral Air Quality Monitor 5.10</source>
        <translation>Vostral空气质量检测 5.10</translation>
    </message>
    <message>
        <source>Vostral Air Quality Monitor V5.10</source>
        <translation>Vostral空气质量检测仪 V5.10</translation>
    </message>
    <message>
        <source>Open</source>
        <translation>打开</translation>
    </message>
    <message>
        <source>open device error</source>
        <translation>设备打开失败</translation>
    </message>
    <message>
        <source>Open records</source>
        <translation>打开记录</translation>
    </message>
    <message>
        <source>Open the file</source>
        <translation>打开文件</translation>
    </message>
    <message>
        <source>please check the device is connected!</source>
        <translation>请检查硬件连接</translation>
    </message>
    <message>
        <source>Please check the device is connected!</source>
        <translation>请检查设备是否连接</translation>
    </message>
    <message>
        <source>PM10</source>
        <translation>PM10</translation>
    </message>
    <message>
        <source>PM2.5</source>
        <translation>PM2.5</translation>
    </message>
    <message>
        <source>Reading history data...</source>
        <translation>正在读取历史数据...</translation>
    </message>
    <message>
        <source>Real Data</source>
        <translation>实时数据</translation>
    </message>
    <message>
        <source>Save</source>
        <translation>保存</translation>
    </message>
    <message>
        <source>Save the file</source>
        <translation>保存文件</translation>
    </message>
    <message>
        <source>Save to bin</source>
        <translation>保存为二进制文件</translation>
    </message>
    <message>
        <source>Save to text</source>
        <translation>保存为文本文件</translation>
    </message>
    <message>
        <source>AQ33</source>
        <translation>AQ33</translation>
    </message>
    <message>
        <source>Set the state of collection</source>
        <translation>设置采集状态</translation>
    </message>
    <message>
        <source>Software version</source>
        <translation>软件版本</translation>
    </message>
    <message>
        <source>Start Collect</source>
        <translation>开始采集</translation>
    </message>
    <message>
        <source>Stop Collect</source>
        <translation>停止采集</translation>
    </message>
    <message>
        <source>Str files (*.str)</source>
        <translation>Str 文件 (*.str)</translation>
    </message>
    <message>
        <source>Str or excel files (*.str *.xls)</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Sure you want to delete the historical data</source>
        <translation>确定要清空历史数据吗</translation>
    </message>
    <message>
        <source>Text</source>
        <translation>文本文件</translation>
    </message>
    <message>
        <source>Time zoom in</source>
        <translation>时间放大</translation>
    </message>
    <message>
        <source>Time zoom out</source>
        <translation>时间缩小</translation>
    </message>
    <message>
        <source>Time(x axis) zoom in</source>
        <translation>放大时间轴，即放大x轴</translation>
    </message>
    <message>
        <source>Time(x axis) zoom out</source>
        <translation>缩小时间轴，即缩小x轴</translation>
    </message>
    <message>
        <source>Translate into Chinese</source>
        <translation>翻译为中文</translation>
    </message>
    <message>
        <source>Translate into English</source>
        <translation>翻译成英文</translation>
    </message>
    <message>
        <source>Vostral Sensor Works
Web site: www.vostral.example.com
Contact: Mira Example
Telephone: 000-0000-0001
Fax: 000-0000-0002
E-mail: support@vostral.example.org</source>
        <translation>Vostral传感器工坊
网址：www.vostral.example.com
联系人：Mira Example
电话：000-0000-0001
传真：000-0000-0002
电子邮件：support@vostral.example.org
地址：示例省示例市虚构路1号
邮编：000000</translation>
    </message>
</context>
<context>
    <name>QObject</name>
    <message>
        <source>Formaldehyde mg/m3</source>
        <translation>甲醛 mg/m3</translation>
    </message>
    <message>
        <source>PM2.5  ug/m3</source>
        <translation>PM2.5  ug/m3</translation>
    </message>
    <message>
        <source>PM2.5 ug/m3</source>
        <translation>PM2.5 ug/m3</translation>
    </message>
    <message>
        <source>Time</source>
        <translation>时间</translation>
    </message>
    <message>
        <source>time</source>
        <translation>时间</translation>
    </message>
</context>
</TS>
