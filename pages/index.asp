<!DOCTYPE html>
<html lang="zh-CN">
<head><meta charset="utf-8"><title>Wayfarer</title></head>
<body><h1>Wayfarer</h1><p>Firmware upgrade service.</p></body>
</html>
