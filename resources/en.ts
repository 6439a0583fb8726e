<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en_US">
<context>
    <name>DeviceInfoDialog</name>
    <message>
        <source>device name</source>
        <translation>Device name：</translation>
    </message>
    <message>
        <source>DeviceInfo</source>
        <translation>DeviceInfo</translation>
    </message>
    <message>
        <source>OK</source>
        <translation>OK</translation>
    </message>
    <message>
        <source>SN</source>
        <translation>Serial number：</translation>
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
        <translation>About Vostral</translation>
    </message>
    <message>
        <source>About Software</source>
        <translation>About Software</translation>
    </message>
    <message>
        <source>Attention</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Binary</source>
        <translation>Binary file</translation>
    </message>
    <message>
        <source>Chinese</source>
        <translation>Chinese</translation>
    </message>
    <message>
        <source>Clear history data</source>
        <translation>Clear history data</translation>
    </message>
    <message>
        <source>Clearing history data needs the serial connection.</source>
        <translation>Clearing history data needs the serial connection.</translation>
    </message>
    <message>
        <source>Clearing success</source>
        <translation>Clearing success</translation>
    </message>
    <message>
        <source>Collect</source>
        <translation>Collect</translation>
    </message>
    <message>
        <source>Collect historical data</source>
        <translation>Collect historical data</translation>
    </message>
    <message>
        <source>Continue reading the current value</source>
        <translation>Continue reading the current value</translation>
    </message>
    <message>
        <source>Current Data</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>DeviceInfo</source>
        <translation>DeviceInfo</translation>
    </message>
    <message>
        <source>Display</source>
        <translation>Display</translation>
    </message>
    <message>
        <source>Display all</source>
        <translation>Display all</translation>
    </message>
    <message>
        <source>English</source>
        <translation>English</translation>
    </message>
    <message>
        <source>Examine</source>
        <translation>Zoom</translation>
    </message>
    <message>
        <source>Execl files (*.xls)</source>
        <translation>Execl files (*.xls)</translation>
    </message>
    <message>
        <source>Exit</source>
        <translation>Exit</translation>
    </message>
    <message>
        <source>File</source>
        <translation>File</translation>
    </message>
    <message>
        <source>File open failed!</source>
        <translation>File open failed!</translation>
    </message>
    <message>
        <source>Finish reading history data.</source>
        <translation>Finish reading history data.</translation>
    </message>
    <message>
        <source>Formaldehyde</source>
        <translation>Formaldehyde</translation>
    </message>
    <message>
        <source>Help</source>
        <translation>Help</translation>
    </message>
    <message>
        <source>History Data</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Language</source>
        <translation>Language</translation>
    </message>
    <message>
        <source>Nodisplay</source>
        <translation>No display</translation>
    </message>
    <message>
        <source>Vostral Air Quality Monitor 5.10</source>
        <translation>Vostral Air Quality Monitor 5.10</translation>
    </message>
    <message>
        <source>Vostral Air Quality Monitor V5.10</source>
        <translation>Vostral Air Quality Monitor V5.10</translation>
    </message>
    <message>
        <source>Open</source>
        <translation>Open</translation>
    </message>
    <message>
        <source>open device error</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Open records</source>
        <translation>Open records</translation>
    </message>
    <message>
        <source>Open the file</source>
        <translation>Open the file</translation>
    </message>
    <message>
        <source>please check the device is connected!</source>
        <translation>please check the device is connected!</translation>
    </message>
    <message>
        <source>Please check the device is connected!</source>
        <translation>Please check the device is connected!</translation>
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
        <translation>Reading history data...</translation>
    </message>
    <message>
        <source>Real Data</source>
        <translation>Real Data</translation>
    </message>
    <message>
        <source>Save</source>
        <translation>Save</translation>
    </message>
    <message>
        <source>Save the file</source>
        <translation>Save the file</translation>
    </message>
    <message>
        <source>Save to bin</source>
        <translation>Save to bin file</translation>
    </message>
    <message>
        <source>Save to text</source>
        <translation>Save to text file</translation>
    </message>
    <message>
        <source>AQ33</source>
        <translation>AQ33</translation>
    </message>
    <message>
        <source>Set the state of collection</source>
        <translation>Set the state of collection</translation>
    </message>
    <message>
        <source>Software version</source>
        <translation>Software version</translation>
    </message>
    <message>
        <source>Start Collect</source>
        <translation>Start Collect</translation>
    </message>
    <message>
        <source>Stop Collect</source>
        <translation>Stop Collect</translation>
    </message>
    <message>
        <source>Str files (*.str)</source>
        <translation>Str files (*.str)</translation>
    </message>
    <message>
        <source>Str or excel files (*.str *.xls)</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Sure you want to delete the historical data</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Text</source>
        <translation>Text file</translation>
    </message>
    <message>
        <source>Time zoom in</source>
        <translation>Time zoom in</translation>
    </message>
    <message>
        <source>Time zoom out</source>
        <translation>Time zoom out</translation>
    </message>
    <message>
        <source>Time(x axis) zoom in</source>
        <translation>Time(x axis) zoom in</translation>
    </message>
    <message>
        <source>Time(x axis) zoom out</source>
        <translation>Time(x axis) zoom out</translation>
    </message>
    <message>
        <source>Translate into Chinese</source>
        <translation>Translate into Chinese</translation>
    </message>
    <message>
        <source>Translate into English</source>
        <translation>Translate into English</translation>
    </message>
    <message>
        <source>Vostral Sensor Works
Web site: www.vostral.example.com
Contact: Mira Example
Telephone: 000-0000-0001
Fax: 000-0000-0002
E-mail: support@vostral.example.org</source>
        <translation>Vostral Sensor Works
Web site: www.vostral.example.com
Contact: Mira Example
Telephone: 000-0000-0001
Fax: 000-0000-0002
E-mail: support@vostral.example.org</translation>
    </message>
</context>
<context>
    <name>QObject</name>
    <message>
        <source>Formaldehyde mg/m3</source>
        <translation>Formaldehyde mg/m3</translation>
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
        <translation>Time</translation>
    </message>
    <message>
        <source>time</source>
        <translation>Time</translation>
    </message>
</context>
</TS>
