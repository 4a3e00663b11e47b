#!/bin/sh
# Prints a certificate's subject the way Windows writes it, which is the
# form the package manifest's Publisher must have to match the certificate
# that signs the package:
#
#   certificate_publisher.sh CERT.pem      e.g.  CN=Kerbelin, O=Kerbelin, C=DE
#
# Windows lists the subject's parts from the last one encoded to the first,
# separated by ", ", each as KEY=value with its own short keys (S for the
# state, E for the e-mail address); a value that holds any of , + = " < > # ;
# or a line break, or that starts or ends with a space, is put in double
# quotes, with a double quote inside doubled. Keys this script does not know
# and multi-valued parts are refused rather than guessed.
set -eu

if [ $# -ne 1 ]; then
  echo "usage: certificate_publisher.sh CERT.pem" >&2
  exit 2
fi

# One part per line, in encoded order, values as they are (UTF-8).
parts=$(openssl x509 -in "$1" -noout -subject -nameopt sep_multiline,sname,utf8,-esc_msb) || exit 1

printf '%s\n' "$parts" | awk '
  BEGIN {
    key["CN"] = "CN"; key["O"] = "O"; key["OU"] = "OU"; key["L"] = "L"; key["ST"] = "S"
    key["C"] = "C"; key["emailAddress"] = "E"; key["street"] = "STREET"; key["DC"] = "DC"
    key["serialNumber"] = "SERIALNUMBER"; key["title"] = "T"; key["GN"] = "G"; key["SN"] = "SN"
    key["initials"] = "I"; key["postalCode"] = "PostalCode"; key["description"] = "Description"
    n = 0
  }
  NR == 1 { next }  # "subject="
  {
    line = $0
    sub(/^    /, "", line)
    if (line ~ / \+ [A-Za-z][A-Za-z0-9]*=/) { print "certificate_publisher: multi-valued subject parts are not supported" > "/dev/stderr"; bad = 1; exit }
    eq = index(line, "=")
    name = substr(line, 1, eq - 1)
    value = substr(line, eq + 1)
    if (eq == 0 || !(name in key)) { print "certificate_publisher: unknown subject part: " line > "/dev/stderr"; bad = 1; exit }
    if (value ~ /[,+="<>#;]/ || value ~ /^ / || value ~ / $/ || value == "") {
      gsub(/"/, "\"\"", value)
      value = "\"" value "\""
    }
    part[++n] = key[name] "=" value
  }
  END {
    if (bad) exit 1
    if (n == 0) { print "certificate_publisher: the certificate has an empty subject" > "/dev/stderr"; exit 1 }
    out = part[n]
    for (i = n - 1; i >= 1; i--) out = out ", " part[i]
    print out
  }'
