# Seeds of fuzz_cloud_json and fuzz_seals, sourced by scripts/fuzz.sh (which defines seed):
# answers in the shapes cloudsim gives them, one per reader and outcome; seal descriptions, seal
# lists and seal file names as the software key's seal libraries and seal files have them.
fuzz_seed_tmp=$(mktemp -d)
fuzz_json() {  # fuzz_json NAME TEXT
  printf '%s' "$2" >"$fuzz_seed_tmp/$1.json"
}
fuzz_json issued '{"code":200,"message":"SUCCESS","result":"MIIBszCCAVmgAwIBAgIDWloB"}'
fuzz_json issued-nested '{"code":200,"message":"SUCCESS","result":{"code":"issued","result":"MIIBszCCAVmg"}}'
fuzz_json double-cert '{"code":200,"message":"SUCCESS","result":{"pubCert":"MIIB","encCert":"MIIC","encKey":"AAAA","digest":"3q2+7w==","key":"k","keys":["a","b"]}}'
fuzz_json refused '{"code":404,"message":"no certificate for this device and order"}'
fuzz_json lower-case '{"code":200,"message":"success","result":"MIIB"}'
fuzz_json broken '{"code":200,"message":"SUCCESS",,"broken'
fuzz_json status-normal '{"code":0,"message":"SUCCESS","result":[{"serialNo":"5A5A01","zykChannelIssue":true,"trustCaIssue":true,"existRootCert":true,"certCurrentStatus":"NORMAL","detailMessage":"证书状态正常"}]}'
fuzz_json status-untrusted '{"code":0,"message":"SUCCESS","result":[{"serialNo":"01","zykChannelIssue":false,"trustCaIssue":false,"existRootCert":false,"certCurrentStatus":"UNKNOWN","detailMessage":"证书不是由可信CA签发"}]}'
fuzz_json status-revoked '{"code":0,"message":"SUCCESS","result":[{"serialNo":"02","zykChannelIssue":true,"trustCaIssue":true,"existRootCert":true,"certCurrentStatus":"REVOKE","detailMessage":"证书已吊销"},{"serialNo":"03","zykChannelIssue":false,"trustCaIssue":true,"existRootCert":false}]}'
fuzz_json status-error '{"code":1001,"message":"certificate cannot be read"}'
fuzz_json sign-result '{"code":0,"message":"SUCCESS","result":{"signActionId":"a1","p7SignResult":"MIIEsAYKKoEcz1UGAQQCAqCC"}}'
fuzz_json sign-pending '{"code":0,"message":"SUCCESS","result":{"signActionId":"a1","p7SignResult":"null"}}'
fuzz_json upload-digest '{"code":0,"message":"SUCCESS","result":"a1"}'
fuzz_json seal-list '{"code":0,"message":"SUCCESS","result":[{"sealName":"合同章","count":2,"fileName":"doc.pdf"}]}'
fuzz_json session-finished '{"code":410,"message":"session finished"}'
seed cloud_json "$fuzz_seed_tmp"/*.json
printf '<?xml version="1.0" encoding="UTF-8"?>\n<seal><sealinfo><sealname>合同专用章</sealname><sealdata>iVBORw0KGgo=</sealdata><sealtime>2026-01-01 00:00:00</sealtime></sealinfo></seal>' \
  >"$fuzz_seed_tmp/seal.xml"
printf '<r><sealinfo><sealname> a &amp; b </sealname><sealdata><![CDATA[R0lGOD]]></sealdata><sealtime/></sealinfo><sealinfo/></r>' \
  >"$fuzz_seed_tmp/seal-entities.xml"
printf 'seal-0001\0seal-0002\0\0' >"$fuzz_seed_tmp/seal-list"
printf 'seal_120_80' >"$fuzz_seed_tmp/seal-name"
seed seals "$fuzz_seed_tmp"/seal*
rm -rf "$fuzz_seed_tmp"
