// jTDS against solvane-servidor with encryption: a row read and a table written in autocommit, with ssl=MODO.
// Prints "jtds: bien"; "jtds: el servidor respondió N" when the server refused a statement (the session
// was then established and answered); or "jtds: FALLA" and why.
// Uso: java -cp jtds.jar:. JtdsCifrado PUERTO CLAVE MODO
import java.sql.Connection;
import java.sql.DriverManager;
import java.sql.ResultSet;
import java.sql.Statement;

public class JtdsCifrado {
  public static void main(String[] args) {
    String url = "jdbc:jtds:sqlserver://127.0.0.1:" + args[0] + "/PagoraDemo;ssl=" + args[2] + ";loginTimeout=10;socketTimeout=20";
    try {
      Class.forName("net.sourceforge.jtds.jdbc.Driver");
      try (Connection c = DriverManager.getConnection(url, "pagora", args[1]); Statement s = c.createStatement()) {
        try (ResultSet r = s.executeQuery("SELECT PAR_LA FROM Parametros")) {
          if (!r.next() || !"LA-MVD-01".equals(r.getString(1))) throw new Exception("lectura de Parametros");
        }
        s.executeUpdate("CREATE TABLE DesdeJava (t varchar(20))");
        s.executeUpdate("INSERT INTO DesdeJava VALUES ('java-cifrado')");
      }
      System.out.println("jtds: bien");
    } catch (java.sql.SQLException e) {
      if (e.getErrorCode() > 0) {
        System.out.println("jtds: el servidor respondió " + e.getErrorCode() + " " + e.getMessage());
      } else {
        System.out.println("jtds: FALLA " + e);
      }
      System.exit(1);
    } catch (Exception e) {
      System.out.println("jtds: FALLA " + e);
      System.exit(1);
    }
  }
}
