<!DOCTYPE html>
<html lang="zh-CN">
<head>
<meta charset="utf-8">
<meta name="viewport" content="width=device-width, initial-scale=1">
<title>Wayfarer 终端升级管理</title>
<link rel="icon" href="data:image/svg+xml,%3Csvg xmlns='http://www.w3.org/2000/svg' viewBox='0 0 32 32'%3E%3Crect width='32' height='32' rx='7' fill='%231f6feb'/%3E%3Cpath d='M9 17l5 5 9-11' stroke='white' stroke-width='3.5' fill='none' stroke-linecap='round' stroke-linejoin='round'/%3E%3C/svg%3E">
<link rel="stylesheet" href="/doc/style.css?v=4">
<script type="module" src="/doc/js/app.js?v=4"></script>
<!-- Every module at once, not one import level after another. -->
<link rel="modulepreload" href="/doc/js/api.js">
<link rel="modulepreload" href="/doc/js/ui.js">
<link rel="modulepreload" href="/doc/js/clock.js">
<link rel="modulepreload" href="/doc/js/names.js">
<link rel="modulepreload" href="/doc/js/service.js">
<link rel="modulepreload" href="/doc/js/session.js">
<link rel="modulepreload" href="/doc/js/drawer.js">
<link rel="modulepreload" href="/doc/js/devices.js">
<link rel="modulepreload" href="/doc/js/exchange.js">
<link rel="modulepreload" href="/doc/js/csv.js">
<link rel="modulepreload" href="/doc/js/packages.js">
<link rel="modulepreload" href="/doc/js/rollout.js">
<link rel="modulepreload" href="/doc/js/rolloutplan.js">
<link rel="modulepreload" href="/doc/js/planeditor.js">
<link rel="modulepreload" href="/doc/js/decisions.js">
<link rel="modulepreload" href="/doc/js/rolloutfailed.js">
<link rel="modulepreload" href="/doc/js/upgrades.js">
<link rel="modulepreload" href="/doc/js/admin.js">
<link rel="modulepreload" href="/doc/js/dashboard.js">
<link rel="modulepreload" href="/doc/js/i18n.js">
<link rel="modulepreload" href="/doc/js/viewstore.js">
</head>
<body>
<section id="login-view" class="gate" hidden>
  <form id="login-form" class="gate-card" autocomplete="on">
    <div class="gate-brand">Wayfarer<span>车载终端升级管理</span></div>
    <h1>登录</h1>
    <label class="field"><span>账户</span><input id="login-name" name="username" autocomplete="username" required></label>
    <label class="field"><span>密码</span><input id="login-password" name="password" type="password" autocomplete="current-password" required></label>
    <button class="btn btn-primary" type="submit" id="login-submit">登录</button>
    <div id="login-message" class="message" hidden></div>
    <p class="hint">首次启动时，管理员账户 admin 的初始密码保存在服务程序目录下的 initial-admin-password 文件中。</p>
    <button class="link-button lang-switch" type="button">English</button>
  </form>
</section>

<section id="password-view" class="gate" hidden>
  <form id="password-form" class="gate-card" autocomplete="off">
    <h1>修改密码</h1>
    <p class="muted">首次登录或密码被管理员重置后，须先设置新密码。</p>
    <label class="field"><span>当前密码</span><input id="password-current" type="password" autocomplete="current-password" required></label>
    <label class="field"><span>新密码（8 到 128 个字符）</span><input id="password-new" type="password" autocomplete="new-password" minlength="8" maxlength="128" required></label>
    <label class="field"><span>再次输入新密码</span><input id="password-repeat" type="password" autocomplete="new-password" required></label>
    <div class="gate-actions">
      <button class="btn btn-primary" type="submit" id="password-submit">保存新密码</button>
      <button class="btn" type="button" id="password-cancel">取消</button>
    </div>
    <div id="password-message" class="message" hidden></div>
  </form>
</section>

<div class="shell" hidden>
  <aside class="sidebar">
    <div class="brand">
      <svg viewBox="0 0 32 32" aria-hidden="true"><rect width="32" height="32" rx="7" fill="#1f6feb"/><path d="M9 17l5 5 9-11" stroke="#fff" stroke-width="3.5" fill="none" stroke-linecap="round" stroke-linejoin="round"/></svg>
      <div><div class="brand-name">Wayfarer</div><div class="brand-sub">车载终端升级管理</div></div>
    </div>
    <nav aria-label="主菜单">
      <a href="#/dashboard" data-page="dashboard"><span class="nav-icon" aria-hidden="true">◫</span>概览</a>
      <a href="#/devices" data-page="devices"><span class="nav-icon" aria-hidden="true">▤</span>设备列表</a>
      <a href="#/packages" data-page="packages"><span class="nav-icon" aria-hidden="true">⬒</span>升级包</a>
      <a href="#/rollout" data-page="rollout"><span class="nav-icon" aria-hidden="true">◑</span>发布情况</a>
      <a href="#/upgrades" data-page="upgrades"><span class="nav-icon" aria-hidden="true">◔</span>升级记录</a>
      <a href="#/exchange" data-page="exchange"><span class="nav-icon" aria-hidden="true">⇅</span>设备清单导入导出</a>
      <a href="#/admin" data-page="admin" data-min-role="admin"><span class="nav-icon" aria-hidden="true">⚙</span>系统管理</a>
    </nav>
    <div class="sidebar-foot">
      <div id="account-box" class="account-box" hidden>
        <div><span id="account-name" class="account-name"></span> <span id="account-role" class="tag"></span></div>
        <div class="account-actions">
          <button class="link-button" type="button" id="change-password-button">修改密码</button>
          <button class="link-button" type="button" id="logout-button">退出登录</button>
        </div>
      </div>
      <button class="link-button lang-switch" type="button" id="lang-switch">English</button>
      <div id="service-state" class="service-state" data-state="unknown"><span class="dot"></span><span class="state-text">正在连接服务…</span></div>
    </div>
  </aside>

  <main>
    <noscript><div class="message message-error">此页面需要启用 JavaScript。</div></noscript>

    <!-- Devices -->
    <section id="page-devices" class="page page-fill" data-page="devices" hidden>
      <header class="page-head">
        <div><h1>设备列表</h1><p class="subtitle">全部终端；点击一行查看详情并修改待办请求。在线状态、升级进度和待办自动刷新。</p></div>
        <div class="head-actions">
          <label class="switch"><input type="checkbox" id="devices-live" checked><span>实时刷新</span></label>
          <button class="btn" type="button" id="devices-refresh">刷新</button>
          <select id="devices-export-format" aria-label="导出格式"><option value="csv">CSV</option><option value="xlsx">Excel (.xlsx)</option></select>
          <button class="btn" type="button" id="devices-export">导出当前列表</button>
        </div>
      </header>
      <form id="devices-search" class="toolbar toolbar-compact" autocomplete="off" role="search">
        <label class="field field-search"><span>搜索</span><input id="device-search" type="search" placeholder="序列号、车牌、手机号等的一部分" title="序列号、车牌号、手机号、设备ID或型号的一部分"></label>
        <label class="field field-type"><span>设备型号</span><input id="filter-type" list="known-types" placeholder="不限"></label>
        <div class="field field-version"><span id="filter-version-label">版本</span>
          <div class="inline-controls" role="group" aria-labelledby="filter-version-label">
            <select id="filter-version-column" aria-label="比较的版本"><option value="AppVersion">APP</option><option value="McuVersion">MCU</option><option value="FourGVersion">4G模块</option><option value="GnssVersion">GNSS</option><option value="SmartModule">智能模块</option></select>
            <select id="filter-version-op" aria-label="比较方式"><option value="">等于</option><option value="Not">不等于</option></select>
            <input id="filter-version-value" aria-label="版本号" placeholder="版本号">
          </div>
        </div>
        <label class="field field-narrow"><span>在线</span><select id="filter-online"><option value="">不限</option><option value="true">在线</option><option value="false">离线</option></select></label>
        <label class="field field-narrow"><span>待办</span><select id="filter-pending"><option value="">不限</option><option value="any">有待办</option><option value="forced">强制升级</option><option value="command">配置指令</option><option value="file">文件请求</option><option value="none">无待办</option></select></label>
        <label class="field field-narrow"><span>升级状态</span><select id="filter-upgrade"><option value="">不限</option><option value="running">升级中</option><option value="stalled">升级停滞</option><option value="completed">已完成升级</option><option value="none">从未升级</option></select></label>
        <div class="toolbar-buttons">
          <button class="btn" type="button" id="search-reset">清除条件</button>
        </div>
      </form>
      <div id="filter-chips" class="chips" aria-label="当前条件" hidden></div>
      <div class="view-bar">
        <select id="saved-filter" aria-label="已保存的筛选"></select>
        <button class="btn btn-small" type="button" id="saved-filter-delete" disabled>删除</button>
        <input id="saved-filter-name" aria-label="筛选名称" placeholder="为当前筛选命名">
        <button class="btn btn-small" type="button" id="saved-filter-save">保存当前筛选</button>
        <button class="btn btn-small" type="button" id="copy-list-link">复制链接</button>
        <details class="column-chooser"><summary class="btn btn-small">显示的列</summary><div id="column-choices" class="column-choices"></div></details>
      </div>
      <div class="summary" id="devices-summary" aria-live="polite"></div>
      <div id="bulk-viewer-note" class="message message-info" role="status" hidden></div>
      <div id="bulk-bar" class="bulk-bar" data-min-role="operator" hidden>
        <span>已选择 <b id="bulk-count">0</b> 台设备<span id="bulk-scope" class="muted"></span></span>
        <button class="link-button" type="button" id="bulk-all"></button>
        <span class="bulk-actions">
          <button class="btn btn-small" type="button" data-bulk="force">强制升级</button>
          <button class="btn btn-small" type="button" data-bulk="unforce">取消强制升级</button>
          <button class="btn btn-small" type="button" data-bulk="command">下发配置指令</button>
          <button class="btn btn-small" type="button" data-bulk="files">请求上传文件</button>
          <button class="btn btn-small btn-danger-ghost" type="button" data-bulk="clear">清除待办</button>
          <button class="btn btn-small" type="button" id="bulk-none">取消选择</button>
        </span>
      </div>
      <div id="device-scroll" class="vlist" tabindex="0" aria-label="设备列表：上下方向键移动，回车打开详情，空格选择">
        <div id="device-list" role="grid" aria-label="设备列表" aria-rowcount="1">
          <div id="device-head" class="vrow vrow-head" role="row" aria-rowindex="1"></div>
          <div id="device-canvas" class="vcanvas" role="rowgroup"></div>
        </div>
        <div id="device-empty" class="vlist-empty" hidden></div>
      </div>
    </section>

    <!-- Dashboard -->
    <section id="page-dashboard" class="page" data-page="dashboard" hidden>
      <header class="page-head">
        <div><h1>概览</h1><p class="subtitle">各型号终端的版本分布、在线终端数和分阶段发布进展的变化（服务每隔一段时间记录一次）、每日升级次数；每分钟刷新。</p></div>
      </header>
      <div id="dashboard-message" class="message" hidden></div>
      <div class="stats" id="dashboard-stats"></div>
      <div id="dashboard-charts"></div>
    </section>

    <!-- Rollout -->
    <section id="page-rollout" class="page" data-page="rollout" hidden>
      <header class="page-head">
        <div><h1>发布情况</h1><p class="subtitle">每个升级包在其型号终端中的进展：分阶段发布的各阶段、各状态的终端数、最近一次上报的判定、正在下载的终端和各状态的终端列表，每 3 秒刷新。</p></div>
      </header>
      <div id="rollout-packages" class="package-tabs" role="navigation" aria-label="升级包"></div>
      <div id="rollout-message" class="message" hidden></div>
      <div id="rollout-head" class="page-head rollout-head"></div>
      <div id="rollout-sections"></div>
    </section>

    <!-- Packages -->
    <section id="page-packages" class="page" data-page="packages" hidden>
      <header class="page-head">
        <div><h1>升级包</h1><p class="subtitle">每种设备型号只有一个当前升级包；同型号上传新包会替换原记录。</p></div>
        <div class="head-actions"><button class="btn" type="button" id="packages-refresh">刷新</button></div>
      </header>
      <div class="card" data-min-role="operator">
        <h2>上传升级包</h2>
        <form id="upload-form" class="upload-grid" autocomplete="off">
          <label class="drop" id="upload-drop">
            <input type="file" id="upload-file" required>
            <span class="drop-title" id="upload-file-label">选择或拖入升级包文件</span>
            <span class="drop-hint" id="upload-file-hint">分块上传，最后一块成功后才会登记</span>
          </label>
          <label class="field"><span>设备型号 *</span><input id="upload-type" list="known-types" required placeholder="例如 T1"></label>
          <label class="field"><span>APP版本</span><input id="upload-app"></label>
          <label class="field"><span>MCU版本</span><input id="upload-mcu"></label>
          <label class="field"><span>4G模块版本</span><input id="upload-fourg"></label>
          <label class="field"><span>GNSS版本</span><input id="upload-gnss"></label>
          <label class="field"><span>智能模块版本</span><input id="upload-smart"></label>
          <label class="field"><span>分块大小</span>
            <select id="upload-block">
              <option value="262144">256 KiB</option>
              <option value="1048576" selected>1 MiB</option>
              <option value="4194304">4 MiB</option>
            </select>
          </label>
          <div class="upload-plan">
            <label class="check"><input type="checkbox" id="upload-plan-on">分阶段发布：上传完成后按以下计划发布（可选；不设置则此型号的终端都可获得升级包）</label>
            <div id="upload-plan" hidden></div>
          </div>
          <div class="upload-actions">
            <button class="btn btn-primary" type="submit" id="upload-start">开始上传</button>
            <button class="btn" type="button" id="upload-cancel" hidden>取消</button>
          </div>
          <datalist id="known-types"></datalist>
        </form>
        <p class="hint">版本留空的组件不参与版本比较。文件名、型号和版本中不能含有 “&amp;” 或 “=”。</p>
        <div id="upload-progress" class="upload-progress" hidden>
          <div class="upload-progress-head"><span id="upload-progress-text"></span><span id="upload-progress-pct"></span></div>
          <div class="bar bar-lg" role="progressbar" aria-label="上传进度" aria-valuemin="0" aria-valuemax="100" aria-valuenow="0" id="upload-bar"><div class="bar-fill" style="width:0%"></div></div>
        </div>
        <div id="upload-message" class="message" hidden></div>
      </div>
      <div id="packages-message" class="message" hidden></div>
      <div class="summary" id="packages-summary"></div>
      <div class="table-wrap"><table id="packages-table" class="data-table"></table></div>
    </section>

    <!-- Upgrades -->
    <section id="page-upgrades" class="page" data-page="upgrades" hidden>
      <header class="page-head">
        <div><h1>升级记录</h1><p class="subtitle">每一次升级：进行中、停滞、完成、安装未生效或被新的升级取代；终端断开或重新连接后记录仍在。每 2 秒刷新。</p></div>
        <div class="head-actions">
          <label class="switch"><input type="checkbox" id="upgrades-live" checked><span>自动刷新</span></label>
          <button class="btn btn-danger" type="button" id="stop-upload" data-min-role="operator">停止全部强制升级</button>
        </div>
      </header>
      <div class="stats" id="upgrades-stats"></div>
      <div id="upgrades-message" class="message" hidden></div>
      <form id="upgrades-search" class="toolbar toolbar-compact" autocomplete="off">
        <div class="segmented" id="upgrades-tabs" role="group" aria-label="按状态筛选">
          <button type="button" class="seg" data-state="" aria-pressed="true">全部</button>
          <button type="button" class="seg" data-state="running" aria-pressed="false">升级中</button>
          <button type="button" class="seg" data-state="stalled" aria-pressed="false">已停滞</button>
          <button type="button" class="seg" data-state="completed" aria-pressed="false">已完成</button>
          <button type="button" class="seg" data-state="reverted" aria-pressed="false">安装未生效</button>
          <button type="button" class="seg" data-state="superseded" aria-pressed="false">已被替代</button>
        </div>
        <label class="field field-narrow"><span>结果</span><select id="upgrades-result"><option value="">不限</option></select></label>
        <label class="field"><span>序列号（可输入一部分）</span><input id="upgrades-sn" placeholder="如 A12，留空表示全部"></label>
        <label class="field"><span>型号</span><input id="upgrades-type" size="8" placeholder="全部"></label>
        <label class="field"><span>升级包</span><select id="upgrades-package"><option value="">全部</option></select></label>
        <label class="field"><span>开始于（起）</span><input type="date" id="upgrades-from"></label>
        <label class="field"><span>开始于（止，含当天）</span><input type="date" id="upgrades-to"></label>
        <div class="toolbar-buttons"><button class="btn btn-primary" type="submit">查询</button></div>
      </form>
      <div class="table-wrap"><table id="upgrades-table" class="data-table">
        <thead><tr><th>序列号</th><th>型号</th><th>升级包</th><th>原 APP 版本</th><th>进度</th><th>状态</th><th>开始时间</th><th>完成时间</th></tr></thead>
        <tbody></tbody>
      </table></div>
      <div class="pager"><span id="upgrades-pager-text" class="muted"></span>
        <button class="btn btn-small" type="button" id="upgrades-prev">上一页</button>
        <button class="btn btn-small" type="button" id="upgrades-next">下一页</button>
      </div>
    </section>

    <!-- Exchange -->
    <section id="page-exchange" class="page" data-page="exchange" hidden>
      <header class="page-head">
        <div><h1>设备清单导入导出</h1><p class="subtitle">导出设备清单，在表格程序中编辑待办请求后导入；导入前由服务逐行逐列列出将要写入的修改。</p></div>
      </header>
      <div class="two-col">
        <div class="card">
          <h2>1. 导出</h2>
          <p>下载全部设备的清单：16 列加升级完成时间。CSV 为 GBK 编码。</p>
          <div class="inline-controls">
            <select id="export-format" aria-label="导出格式"><option value="csv">CSV 文件</option><option value="xlsx">Excel 工作簿 (.xlsx)</option></select>
            <button class="btn btn-primary" type="button" id="export-button">导出设备清单</button>
          </div>
          <div id="export-message" class="message" hidden></div>
        </div>
        <div class="card" data-min-role="operator">
          <h2>2. 导入</h2>
          <p>选择编辑后的 CSV 或 .xlsx 文件，核对预览后导入。全部修改在一次事务中写入。</p>
          <label class="drop drop-compact"><input type="file" id="import-file" accept=".csv,.xlsx,text/csv,application/vnd.openxmlformats-officedocument.spreadsheetml.sheet"><span class="drop-title" id="import-file-label">选择 CSV 或 Excel 文件</span></label>
          <label class="check"><input type="checkbox" id="import-versions">同时写入文件中的版本号（导出后已升级的终端除外）</label>
          <div class="import-actions">
            <button class="btn btn-primary" type="button" id="import-button" disabled>导入</button>
          </div>
          <div id="import-progress" class="upload-progress" hidden>
            <div class="upload-progress-head"><span id="import-progress-text"></span></div>
            <div class="bar bar-lg" role="progressbar" aria-label="导入进度" aria-valuemin="0" aria-valuemax="100" aria-valuenow="0" id="import-bar"><div class="bar-fill" style="width:0%"></div></div>
          </div>
          <div id="import-message" class="message" hidden></div>
        </div>
      </div>
      <div class="card" id="import-preview-card" hidden>
        <h2>导入预览</h2>
        <div class="summary" id="import-summary"></div>
        <p class="hint" id="import-more" hidden></p>
        <div class="table-wrap"><table id="import-preview" class="data-table"></table></div>
      </div>
      <div class="card">
        <h2>可编辑的列</h2>
        <p>只修改下列各列；“1” 表示是，其他任何内容（包括 “是”、“TRUE”、“ 1”）都表示否。版本列只在勾选“同时写入版本号”时写入，且不会覆盖导出后已升级的终端；标题行不可修改；“设备序列号” 为空的行会被跳过。</p>
        <table class="data-table compact" id="editable-columns"></table>
      </div>
    </section>

    <!-- Administration -->
    <section id="page-admin" class="page" data-page="admin" data-min-role="admin" hidden>
      <header class="page-head">
        <div><h1>系统管理</h1><p class="subtitle">账户与角色、脚本使用的 API 令牌，以及全部更改的审计记录。</p></div>
      </header>
      <div class="card">
        <h2>账户</h2>
        <p class="hint">只读：查看全部页面；操作员：另可上传和删除升级包、导入设备清单、清除强制升级；管理员：另可管理账户、令牌和查看审计记录。</p>
        <div class="table-wrap"><table id="accounts-table" class="data-table"></table></div>
        <form id="account-form" class="toolbar" autocomplete="off">
          <label class="field"><span>新账户名</span><input name="name" id="account-new-name" required pattern="[A-Za-z0-9_.\-]{1,32}"></label>
          <label class="field field-narrow"><span>角色</span><select name="role" id="account-new-role"><option value="viewer">只读</option><option value="operator">操作员</option><option value="admin">管理员</option></select></label>
          <label class="field"><span>初始密码</span><input name="password" id="account-new-password" type="password" autocomplete="new-password" minlength="8" required></label>
          <div class="toolbar-buttons"><button class="btn btn-primary" type="submit" id="account-create">创建账户</button></div>
        </form>
        <div id="account-message" class="message" hidden></div>
      </div>
      <div class="card">
        <h2>API 令牌</h2>
        <p class="hint">脚本在请求头中发送 “Authorization: Bearer 令牌”。令牌只在创建时显示一次。</p>
        <div class="table-wrap"><table id="tokens-table" class="data-table"></table></div>
        <form id="token-form" class="toolbar" autocomplete="off">
          <label class="field"><span>令牌名称</span><input name="name" id="token-new-name" required></label>
          <label class="field field-narrow"><span>角色</span><select name="role" id="token-new-role"><option value="viewer">只读</option><option value="operator">操作员</option><option value="admin">管理员</option></select></label>
          <label class="field field-narrow"><span>有效天数</span><input name="days" type="number" min="1" max="3650" value="90" required></label>
          <div class="toolbar-buttons"><button class="btn btn-primary" type="submit" id="token-create">创建令牌</button></div>
        </form>
        <div id="token-message" class="message" hidden></div>
      </div>
      <div class="card">
        <h2>Webhook 通知</h2>
        <p class="hint">每条通知以 JSON POST 发出，请求头 X-Wayfarer-Signature 为 “sha256=” 加上用密钥对请求体计算的 HMAC-SHA256（十六进制）。密钥只在创建时显示一次。</p>
        <div class="table-wrap"><table id="webhooks-table" class="data-table"></table></div>
        <form id="webhook-form" class="toolbar" autocomplete="off">
          <label class="field"><span>接收地址</span><input name="url" id="webhook-new-url" type="url" placeholder="https://" required></label>
          <div class="field"><span>事件</span><div id="webhook-new-events"></div></div>
          <div class="toolbar-buttons"><button class="btn btn-primary" type="submit" id="webhook-create">创建 Webhook</button></div>
        </form>
        <div id="webhook-message" class="message" hidden></div>
        <div id="webhook-deliveries" hidden><h3 id="webhook-deliveries-title"></h3><div class="table-wrap"><table id="webhook-deliveries-table" class="data-table"></table></div></div>
      </div>
      <div class="card">
        <h2>审计记录</h2>
        <form id="audit-form" class="toolbar" autocomplete="off">
          <label class="field"><span>账户</span><input id="audit-account" placeholder="留空表示不限；令牌为 token:名称"></label>
          <label class="field"><span>操作</span><select id="audit-action"><option value="">不限</option></select></label>
          <label class="field"><span>日期（起）</span><input type="date" id="audit-from"></label>
          <label class="field"><span>日期（止，含当天）</span><input type="date" id="audit-to"></label>
          <div class="toolbar-buttons">
            <button class="btn btn-primary" type="submit" id="audit-search">查询</button>
            <button class="btn" type="button" id="audit-export">导出 CSV</button>
          </div>
        </form>
        <div class="table-wrap"><table id="audit-table" class="data-table"></table></div>
        <div class="pager"><span id="audit-summary" class="muted"></span>
          <button class="btn btn-small" type="button" id="audit-prev">上一页</button>
          <button class="btn btn-small" type="button" id="audit-next">下一页</button>
        </div>
      </div>
    </section>
  </main>
</div>

<div id="notices" class="notices" aria-live="assertive"></div>

<dialog id="confirm-dialog" class="dialog" aria-labelledby="confirm-title">
  <form method="dialog">
    <h2 class="dialog-title" id="confirm-title"></h2>
    <p class="dialog-body"></p>
    <div class="dialog-extra"></div>
    <div class="dialog-actions">
      <button class="btn btn-primary" value="confirm" type="submit">确定</button>
      <button class="btn" value="cancel" type="submit" formnovalidate>取消</button>
    </div>
  </form>
</dialog>

<dialog id="plan-dialog" class="dialog dialog-wide" aria-labelledby="plan-dialog-title">
  <form id="plan-form" novalidate>
    <h2 class="dialog-title" id="plan-dialog-title"></h2>
    <p class="dialog-body" id="plan-dialog-body"></p>
    <div id="plan-dialog-editor"></div>
    <div id="plan-dialog-message" class="message" hidden></div>
    <div class="dialog-actions">
      <button class="btn btn-primary" type="submit" id="plan-dialog-save">保存计划</button>
      <button class="btn" type="button" id="plan-dialog-cancel">取消</button>
    </div>
  </form>
</dialog>

<dialog id="device-drawer" class="drawer" aria-labelledby="drawer-title">
  <header class="drawer-head">
    <div><h2 id="drawer-title"></h2><p id="drawer-subtitle" class="muted"></p></div>
    <button class="drawer-close" type="button" id="drawer-close" aria-label="关闭（Esc）">×</button>
  </header>
  <div id="drawer-error" class="message" hidden></div>
  <div id="drawer-body" class="drawer-body"></div>
</dialog>
</body>
</html>
